#pragma once

#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "system_calls.hpp"

namespace zorvik::testing {

// The kernel's calls, except those a test has told to fail, once per errno
// given, as a broken network or a signal would make them. The receive thread
// calls it too, so what a test scripts is guarded.
class ScriptedCalls final : public SystemCalls {
public:
    std::atomic<int> sendWaits = 0, receives = 0;
    std::atomic<bool> withoutControl = false;  // recvmmsg hands back no control messages, as if none came

    void fail(const std::string& call, std::deque<int> errors) { const std::lock_guard l(m); failures[call] = std::move(errors); }
    // Every call fails with `error` from now on, as under a shim; 0 ends it.
    void failEvery(const std::string& call, int error) { const std::lock_guard l(m); always[call] = error; }
    // How often a call has been made, failed or not.
    int made(const std::string& call) { const std::lock_guard l(m); return counts[call]; }
    void onReceive(std::function<void()> action) { const std::lock_guard l(m); receiveAction = std::move(action); }  // may throw

    int socket(int d, int t, int p) override { return fails("socket") ? -1 : real.socket(d, t, p); }
    int close(int fd) override { return real.close(fd); }
    int setsockopt(int fd, int l, int n, const void* v, socklen_t len) override {
        return fails("setsockopt") ? -1 : real.setsockopt(fd, l, n, v, len);
    }
    ssize_t sendto(int fd, const void* d, size_t n, int f, const sockaddr* to, socklen_t tl) override {
        return fails("sendto") ? -1 : real.sendto(fd, d, n, f, to, tl);
    }
    int recvmmsg(int fd, mmsghdr* msgs, unsigned c, int f) override {
        ++receives;
        std::function<void()> action;
        { const std::lock_guard l(m); action = receiveAction; }
        if (action) action();
        if (fails("recvmmsg")) return -1;
        const int got = real.recvmmsg(fd, msgs, c, f);
        for (int i = 0; withoutControl && i < got; ++i) msgs[i].msg_hdr.msg_controllen = 0;
        return got;
    }
    int poll(pollfd* fds, nfds_t n, int t) override {
        return sendWaits += (fds[0].events & POLLOUT) != 0, fails("poll") ? -1 : real.poll(fds, n, t);
    }
    int getsockopt(int fd, int l, int n, void* v, socklen_t* len) override {
        return fails("getsockopt") ? -1 : real.getsockopt(fd, l, n, v, len);
    }
    int getsockname(int fd, sockaddr* a, socklen_t* len) override {
        return fails("getsockname") ? -1 : real.getsockname(fd, a, len);
    }
    ssize_t read(int fd, void* b, size_t n) override { return fails("read") ? -1 : real.read(fd, b, n); }
    ssize_t write(int fd, const void* d, size_t n) override { return fails("write") ? -1 : real.write(fd, d, n); }
    int eventfd(unsigned i, int f) override { return fails("eventfd") ? -1 : real.eventfd(i, f); }
    int timerfd_create(int c, int f) override { return fails("timerfd_create") ? -1 : real.timerfd_create(c, f); }
    int timerfd_settime(int fd, int f, const TimerSetting* v, TimerSetting* o) override {
        return fails("timerfd_settime") ? -1 : real.timerfd_settime(fd, f, v, o);
    }
    ssize_t recvmsg(int fd, msghdr* msg, int f) override { return fails("recvmsg") ? -1 : real.recvmsg(fd, msg, f); }
    int fcntl(int fd, int c, int a) override { return fails("fcntl") ? -1 : real.fcntl(fd, c, a); }
    int open(const char* p, int f, mode_t mode) override { return fails("open") ? -1 : real.open(p, f, mode); }
    int stat(const char* p, struct stat* s) override { return fails("stat") ? -1 : real.stat(p, s); }
    int fstat(int fd, struct stat* s) override { return fails("fstat") ? -1 : real.fstat(fd, s); }
    int getifaddrs(ifaddrs** l) override { return fails("getifaddrs") ? -1 : real.getifaddrs(l); }
    void freeifaddrs(ifaddrs* l) override { real.freeifaddrs(l); }
    int fchmod(int fd, mode_t mode) override { return fails("fchmod") ? -1 : real.fchmod(fd, mode); }
    int fsync(int fd) override { return fails("fsync") ? -1 : real.fsync(fd); }
    int rename(const char* f, const char* t) override { return fails("rename") ? -1 : real.rename(f, t); }
    int unlink(const char* p) override { return fails("unlink") ? -1 : real.unlink(p); }
    int pipe2(int fds[2], int f) override { return fails("pipe2") ? -1 : real.pipe2(fds, f); }
    int sigaction(int s, const struct sigaction* a, struct sigaction* o) override {
        return fails("sigaction") ? -1 : real.sigaction(s, a, o);
    }

private:
    bool fails(const char* name) {
        const std::lock_guard l(m);
        ++counts[name];
        if (const int error = always[name]) return errno = error, true;
        auto& queue = failures[name];
        return !queue.empty() && (errno = queue.front(), queue.pop_front(), true);
    }
    std::mutex m;
    std::map<std::string, std::deque<int>> failures;
    std::map<std::string, int> always, counts;
    std::function<void()> receiveAction;
    SystemCalls& real = realSystemCalls();
};

}  // namespace zorvik::testing
