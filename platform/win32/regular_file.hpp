#pragma once

#include <cstddef>
#include <string>

namespace zorvik {

// What reading a file gave: its bytes, or why there are none.
struct FileRead {
    std::string text;
    int error = 0;        // the system's error number of the call that failed, if one did
    std::string problem;  // empty when the file was read
};

// The whole of a regular file of at most `maxBytes` (a UTF-8 path). Anything
// else (a folder, a device, a pipe, a larger file) is refused without reading
// more than the bound.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes);

}  // namespace zorvik
