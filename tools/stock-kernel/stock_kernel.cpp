// LD_PRELOAD=libzorvik-stock-kernel.so: a host tuned for large socket buffers
// behaves, for one program, like a stock kernel whose rmem_max is 212992, without
// changing any host setting. A request for more is cut to that (the kernel then
// grants twice it, 425,984 bytes, as a stock kernel grants for any larger request).
//
// ZORVIK_RCVBUF_CAP=N   another cap in bytes
// ZORVIK_RECEIVE_ERRNO=N every recvmmsg fails with errno N (the endpoints' receive)
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "preloaded_calls.hpp"

using zorvik::preload::next, zorvik::preload::ReceiveTimeout;

namespace {

int fromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

bool receiveFails() {
    static const int error = fromEnvironment("ZORVIK_RECEIVE_ERRNO", 0);
    if (error != 0) {
        errno = error;
    }
    return error != 0;
}

}  // namespace

extern "C" {

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    static const auto real = next<int (*)(int, int, int, const void*, socklen_t)>("setsockopt");
    static const int cap = fromEnvironment("ZORVIK_RCVBUF_CAP", 212992);
    if (level == SOL_SOCKET && (name == SO_RCVBUF || name == SO_RCVBUFFORCE) && length == sizeof(int) &&
        *static_cast<const int*>(value) > cap) {
        return real(fd, level, SO_RCVBUF, &cap, sizeof cap);
    }
    return real(fd, level, name, value, length);
}

int recvmmsg(int fd, mmsghdr* messages, unsigned count, int flags, ReceiveTimeout timeout) {
    static const auto real = next<decltype(&::recvmmsg)>("recvmmsg");
    return receiveFails() ? -1 : real(fd, messages, count, flags, timeout);
}

}  // extern "C"
