#pragma once

#include <ifaddrs.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/types.h>

#include <cstdint>
#include <tuple>
#include <type_traits>

namespace zorvik {

// A timerfd's setting, its first expiry and its period, as timerfd_settime's
// last parameter declares it.
template <typename>
struct LastParameterOf;
template <typename Result, typename... Parameters>
struct LastParameterOf<Result(Parameters...) noexcept> {
    using type = std::tuple_element_t<sizeof...(Parameters) - 1, std::tuple<Parameters...>>;
};
using TimerSetting = std::remove_pointer_t<LastParameterOf<decltype(::timerfd_settime)>::type>;

// The one seam through which platform/posix reaches the kernel, so that tests can
// make a call fail (ENETUNREACH, EINTR, EAGAIN, ...) without a broken network.
// Each call behaves like its POSIX namesake: -1 with errno set on failure.
class SystemCalls {
public:
    virtual ~SystemCalls() = default;
    virtual int socket(int domain, int type, int protocol) = 0;
    virtual int close(int fd) = 0;
    virtual int setsockopt(int fd, int level, int name, const void* value, socklen_t length) = 0;
    virtual ssize_t sendto(int fd, const void* data, size_t length, int flags, const sockaddr* to,
                           socklen_t toLength) = 0;
    virtual int recvmmsg(int fd, mmsghdr* messages, unsigned count, int flags) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
    virtual int getsockopt(int fd, int level, int name, void* value, socklen_t* length) = 0;
    virtual int getsockname(int fd, sockaddr* address, socklen_t* length) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t length) = 0;
    virtual ssize_t write(int fd, const void* data, size_t length) = 0;
    virtual int eventfd(unsigned initial, int flags) = 0;
    virtual int timerfd_create(int clock, int flags) = 0;
    virtual int timerfd_settime(int fd, int flags, const TimerSetting* value, TimerSetting* old) = 0;
    // The neighbour table, the interfaces, the standard streams and files.
    virtual ssize_t recvmsg(int fd, msghdr* message, int flags) = 0;
    virtual int fcntl(int fd, int command, int argument) = 0;
    virtual int open(const char* path, int flags, mode_t mode) = 0;
    virtual int stat(const char* path, struct stat* status) = 0;
    virtual int fstat(int fd, struct stat* status) = 0;
    virtual int getifaddrs(ifaddrs** list) = 0;
    virtual void freeifaddrs(ifaddrs* list) = 0;
    // The replacement of a file.
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fsync(int fd) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int unlink(const char* path) = 0;
    // The stop signals'. Their handler writes through the seam: the kernel's calls are safe there.
    virtual int pipe2(int fds[2], int flags) = 0;
    virtual int sigaction(int signal, const struct sigaction* action, struct sigaction* old) = 0;
};

// The kernel's own calls.
SystemCalls& realSystemCalls();

}  // namespace zorvik
