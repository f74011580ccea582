#include "system_calls.hpp"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>

namespace zorvik {
namespace {

class KernelCalls final : public SystemCalls {
public:
    int socket(int domain, int type, int protocol) override { return ::socket(domain, type, protocol); }
    int close(int fd) override { return ::close(fd); }
    int setsockopt(int fd, int level, int name, const void* value, socklen_t length) override {
        return ::setsockopt(fd, level, name, value, length);
    }
    ssize_t sendto(int fd, const void* data, size_t length, int flags, const sockaddr* to,
                   socklen_t toLength) override {
        return ::sendto(fd, data, length, flags, to, toLength);
    }
    int recvmmsg(int fd, mmsghdr* messages, unsigned count, int flags) override {
        return ::recvmmsg(fd, messages, count, flags, nullptr);
    }
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
    int getsockopt(int fd, int level, int name, void* value, socklen_t* length) override {
        return ::getsockopt(fd, level, name, value, length);
    }
    int getsockname(int fd, sockaddr* address, socklen_t* length) override {
        return ::getsockname(fd, address, length);
    }
    ssize_t read(int fd, void* buffer, size_t length) override { return ::read(fd, buffer, length); }
    ssize_t write(int fd, const void* data, size_t length) override { return ::write(fd, data, length); }
    int eventfd(unsigned initial, int flags) override { return ::eventfd(initial, flags); }
    int timerfd_create(int clock, int flags) override { return ::timerfd_create(clock, flags); }
    int timerfd_settime(int fd, int flags, const TimerSetting* value, TimerSetting* old) override {
        return ::timerfd_settime(fd, flags, value, old);
    }
    ssize_t recvmsg(int fd, msghdr* message, int flags) override { return ::recvmsg(fd, message, flags); }
    int fcntl(int fd, int command, int argument) override { return ::fcntl(fd, command, argument); }
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int stat(const char* path, struct stat* status) override { return ::stat(path, status); }
    int fstat(int fd, struct stat* status) override { return ::fstat(fd, status); }
    int getifaddrs(ifaddrs** list) override { return ::getifaddrs(list); }
    void freeifaddrs(ifaddrs* list) override { ::freeifaddrs(list); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int fsync(int fd) override { return ::fsync(fd); }
    int rename(const char* from, const char* to) override { return std::rename(from, to); }
    int unlink(const char* path) override { return ::unlink(path); }
    int pipe2(int fds[2], int flags) override { return ::pipe2(fds, flags); }
    int sigaction(int signal, const struct sigaction* action, struct sigaction* old) override {
        return ::sigaction(signal, action, old);
    }
};

}  // namespace

SystemCalls& realSystemCalls() {
    static KernelCalls calls;
    return calls;
}

}  // namespace zorvik
