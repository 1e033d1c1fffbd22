// Files under a fixed name appear whole or not at all: each is written under
// a name of its own beside it, flushed to the disk, and renamed into place
// (a rename within a folder replaces the old file in one step). A run that
// stops while it writes (a signal, a full disk, the power) leaves the old
// file or none, and at most a part file, never a cut file under the name.
#pragma once

#include <cstddef>
#include <string>

namespace atomicfile {

// The name a file is written under before it takes its own: beside it,
// hidden (".resultCalibration.xml.part").
std::string partName(const std::string& path);
// Puts a written part file in the place of path: flushed to the disk, then
// renamed. False (errno set) when either fails; the part is then removed.
bool commit(const std::string& part, const std::string& path);
// Writes size bytes to path whole or not at all; false (errno set) on failure.
bool write(const std::string& path, const void* data, size_t size);
inline bool write(const std::string& path, const std::string& text) {
    return write(path, text.data(), text.size());
}

}  // namespace atomicfile
