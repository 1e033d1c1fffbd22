"""Calibration records in physical units: a static record's offset in the
sensor's unit, its scale matrix (entries over the scale factor) and its axis
mapping, as the firmware applies them: y = scale * mapping * (r - offset)."""

from .runfiles import luid_type

# Per sensor type: the unit of its samples and what one count of a record's
# offset is in that unit.
UNITS = {115: ("g", 1e-6), 118: ("deg/s", 1e-5), 527: ("mG", 1e-3), 125: ("mG", 1e-3)}
KINDS = {115: "accelerometer", 118: "gyroscope", 527: "magnetometer", 125: "magnetometer", 65: "ambient light"}
AXES = ("XX", "XY", "XZ", "YX", "YY", "YZ", "ZX", "ZY", "ZZ")
MATS = ("Mat11", "Mat12", "Mat13", "Mat21", "Mat22", "Mat23", "Mat31", "Mat32", "Mat33")


def multiply(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def physical(fields, luid):
    """A record of a calibration file in physical units, or None when it is no
    static record. {"offset": [..], "unit": .., "scale": 3x3, "axis_mapping":
    3x3, "correction": scale * mapping}"""
    sensor_type = luid_type(luid)
    if sensor_type not in UNITS or fields.get("FormatId", "0") != "0":
        return None
    unit, count = UNITS[sensor_type]
    try:
        factor = float(fields.get("ScaleFactor", "1")) or 1.0
        scale = [[float(fields[MATS[3 * i + j]]) / factor for j in range(3)] for i in range(3)]
        mapping = [[float(fields[AXES[3 * i + j]]) for j in range(3)] for i in range(3)]
        offset = [float(fields[f"Offset{a}"]) * count for a in "XYZ"]
    except (KeyError, ValueError):
        return None
    return {"offset": offset, "unit": unit, "scale": scale, "axis_mapping": mapping,
            "correction": multiply(scale, mapping)}


def from_log(sensor):
    """The firmware record a run found, from its log (what it reversed), in
    physical units; None when the log has none."""
    scale, mapping, offset = (sensor.matrix(t) for t in ("OriginalScaling", "OriginalAxisMapping", "OriginalOffset"))
    sensor_type = luid_type(sensor.luid)
    if not scale or not mapping or not offset or sensor_type not in UNITS or len(scale) != 3 or len(mapping) != 3:
        return None
    unit, count = UNITS[sensor_type]
    return {"offset": [v * count for v in offset[0][:3]], "unit": unit, "scale": scale, "axis_mapping": mapping,
            "correction": multiply(scale, mapping)}
