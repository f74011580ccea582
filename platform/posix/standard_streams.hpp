#pragma once

#include <string_view>

#include "system_calls.hpp"

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
ClosedStandardStreams openStandardStreams(SystemCalls& calls = realSystemCalls()) noexcept;

// Writes all of `text` to `fd`, waiting for room while a non-blocking pipe is
// full; returns 0, or the errno of the write that failed.
//
// With `stop`, a descriptor that turns readable when the program is asked to
// stop, it waits for room before each write and gives up with ECANCELED once a
// stop is asked for while `fd` takes nothing. Each write is then at most
// PIPE_BUF bytes, of whole lines where it can: a pipe with room takes that much
// at once, so no write blocks and no pipe is left holding half a line.
int writeAll(int fd, std::string_view text, int stop = -1, SystemCalls& calls = realSystemCalls()) noexcept;

}  // namespace zorvik
