#pragma once

#include <cstddef>
#include <string>

namespace zorvik {

// What reading a file gave: its bytes, or why there are none.
struct FileRead {
    std::string text;
    int error = 0;        // ENOENT for a file or folder not there, else the system's error number
    std::string problem;  // empty when the file was read
};

// The whole of a regular file (its path in UTF-8) of at most `maxBytes`.
// Anything else (a folder, a device, a pipe, a larger file) is refused without
// reading from it or more than the bound.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes);

}  // namespace zorvik
