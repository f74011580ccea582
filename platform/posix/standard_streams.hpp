#pragma once

#include <string_view>

namespace zorvik {

// Which of the standard descriptors (0, 1, 2) were closed when the program started.
struct ClosedStandardStreams {
    bool input = false;
    bool output = false;
    bool error = false;
};

// Opens /dev/null on each standard descriptor that is closed, so that no socket
// or event descriptor the program opens later takes its number and receives
// what is meant for the terminal. Call it first in main, before anything opens
// a descriptor.
ClosedStandardStreams openStandardStreams() noexcept;

// Writes all of `text` to `fd`, waiting for room while a non-blocking pipe is
// full; returns 0, or the errno of the write that failed.
int writeAll(int fd, std::string_view text) noexcept;

}  // namespace zorvik
