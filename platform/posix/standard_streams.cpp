#include "standard_streams.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace zorvik {
namespace {

bool closed(int fd) noexcept { return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace

ClosedStandardStreams openStandardStreams() noexcept {
    ClosedStandardStreams found{closed(0), closed(1), closed(2)};
    for (const bool wasClosed : {found.input, found.output, found.error}) {
        // The lowest free number is the closed one, as those below are open by now.
        if (wasClosed) static_cast<void>(::open("/dev/null", O_RDWR | O_NOCTTY));
    }
    return found;
}

int writeAll(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written >= 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        // A descriptor shared with a non-blocking reader or writer: wait, drop nothing.
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, -1) < 0 && errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace zorvik
