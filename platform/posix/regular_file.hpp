#pragma once

#include <cstddef>
#include <string>

#include "system_calls.hpp"

namespace zorvik {

// What reading a file gave: its bytes, or why there are none.
struct FileRead {
    std::string text;
    int error = 0;        // the errno of the call that failed, if one did
    std::string problem;  // empty when the file was read
};

// The whole of a regular file of at most `maxBytes`. Anything else (a FIFO, a
// device, a folder, a larger file) is refused without a blocking open and
// without reading more than the bound.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes, SystemCalls& calls = realSystemCalls());

}  // namespace zorvik
