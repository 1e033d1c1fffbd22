/* Control messages between the device shim and hubsim. They travel on the same
 * SOCK_SEQPACKET connection as the tool's own messages and are told apart by
 * an 8-byte magic that no firmware message starts with.
 *
 *   request: magic, u8 type, payload
 *   reply:   magic, u8 type, i32 result (little-endian), payload
 *
 *   OPEN            payload: the device node name; result 0 or an errno value
 *   CONNECT         payload: 16-byte client GUID; result 0 or -1; reply payload:
 *                   the 16-byte ioctl argument (u32 maximum message length, 12 bytes)
 *   STATUS_REGISTER no payload; result non-zero when the payload holds the
 *                   register as hexadecimal text
 *   OPERATOR        payload: an action on the simulated device ("place +y -z 2",
 *                   "turn +z 360 4", "light 500"); result 0 and the wall
 *                   milliseconds until it is done as text, or -1 and a reason
 *                   (sent by the virtual operator on a connection of its own)
 */
#ifndef HUBSIM_SHIM_PROTOCOL_H
#define HUBSIM_SHIM_PROTOCOL_H

#define HUBSIM_MAGIC "\xffHUBSIM\x01"
#define HUBSIM_MAGIC_SIZE 8
#define HUBSIM_CTRL_OPEN 1
#define HUBSIM_CTRL_CONNECT 2
#define HUBSIM_CTRL_STATUS_REGISTER 3
#define HUBSIM_CTRL_OPERATOR 4
#define HUBSIM_REPLY_HEADER_SIZE (HUBSIM_MAGIC_SIZE + 1 + 4)
#define HUBSIM_SOCKET_ENV "HUBSIM_SOCKET"

#endif
