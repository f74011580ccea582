#include "standard_streams.hpp"

#include <fcntl.h>

#include <array>
#include <cerrno>
#include <climits>

namespace zorvik {
namespace {

bool closed(SystemCalls& calls, int fd) noexcept { return calls.fcntl(fd, F_GETFD, 0) == -1 && errno == EBADF; }

// How much of `text` one write takes: PIPE_BUF bytes at the most, ending after a line.
std::size_t wholeLines(std::string_view text) noexcept {
    if (text.size() <= PIPE_BUF) return text.size();
    const std::size_t end = text.rfind('\n', PIPE_BUF - 1);
    return end == std::string_view::npos ? PIPE_BUF : end + 1;
}

}  // namespace

ClosedStandardStreams openStandardStreams(SystemCalls& calls) noexcept {
    ClosedStandardStreams found{closed(calls, 0), closed(calls, 1), closed(calls, 2)};
    for (const bool wasClosed : {found.input, found.output, found.error}) {
        // The lowest free number is the closed one, as those below are open by now.
        if (wasClosed) static_cast<void>(calls.open("/dev/null", O_RDWR | O_NOCTTY, 0));
    }
    return found;
}

int writeAll(int fd, std::string_view text, int stop, SystemCalls& calls) noexcept {
    while (!text.empty()) {
        std::size_t size = text.size();
        if (stop >= 0) {
            std::array<pollfd, 2> watched{{{fd, POLLOUT, 0}, {stop, POLLIN, 0}}};
            if (calls.poll(watched.data(), watched.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (watched[0].revents == 0) return ECANCELED;
            size = wholeLines(text);
        }
        const ssize_t written = calls.write(fd, text.data(), size);
        if (written >= 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        if (stop >= 0) continue;  // waited for above
        // A descriptor shared with a non-blocking reader or writer: wait, drop nothing.
        pollfd room{fd, POLLOUT, 0};
        if (calls.poll(&room, 1, -1) < 0 && errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace zorvik
