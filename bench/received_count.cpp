// LD_PRELOAD=libzorvik-bench-received.so, ZORVIK_BENCH_RECEIVED=FILE: counts the
// IPv4 datagrams the processes take from the kernel, whichever thread takes them,
// in FILE (one 64-bit count, shared), so that a bench harness can tell whether
// answers are waiting to be listed. Under Wine the receive calls are made by
// Wine's own Unix side, in the program's process, so it counts there too.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "preloaded_calls.hpp"

using zorvik::preload::next, zorvik::preload::ReceiveTimeout;

namespace {

std::int64_t* sharedCount() {
    static std::int64_t* const count = []() -> std::int64_t* {
        const char* path = std::getenv("ZORVIK_BENCH_RECEIVED");
        const int fd = path != nullptr ? open(path, O_RDWR | O_CLOEXEC) : -1;
        if (fd < 0) {
            return nullptr;
        }
        void* mapped = mmap(nullptr, sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        return mapped == MAP_FAILED ? nullptr : static_cast<std::int64_t*>(mapped);
    }();
    return count;
}

// Wine's and the Qt endpoint's receive calls ask for the sender; the Unix
// sockets Wine talks to its server through have none, or not an IPv4 one.
void countFrom(const void* from, socklen_t length) {
    if (from != nullptr && length >= sizeof(sa_family_t) && static_cast<const sockaddr*>(from)->sa_family == AF_INET) {
        if (std::int64_t* count = sharedCount()) {
            std::atomic_ref(*count).fetch_add(1, std::memory_order_relaxed);
        }
    }
}

}  // namespace

extern "C" {

int recvmmsg(int fd, mmsghdr* messages, unsigned count, int flags, ReceiveTimeout timeout) {
    static const auto real = next<decltype(&::recvmmsg)>("recvmmsg");
    const int got = real(fd, messages, count, flags, timeout);
    for (int i = 0; i < got; ++i) {
        countFrom(messages[i].msg_hdr.msg_name, messages[i].msg_hdr.msg_namelen);
    }
    return got;
}

ssize_t recvmsg(int fd, msghdr* message, int flags) {
    static const auto real = next<ssize_t (*)(int, msghdr*, int)>("recvmsg");
    const ssize_t got = real(fd, message, flags);
    if (got >= 0) {
        countFrom(message->msg_name, message->msg_namelen);
    }
    return got;
}

ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength) {
    static const auto real = next<ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*)>("recvfrom");
    const ssize_t got = real(fd, buffer, length, flags, from, fromLength);
    if (got >= 0 && fromLength != nullptr) {
        countFrom(from, *fromLength);
    }
    return got;
}

}  // extern "C"
