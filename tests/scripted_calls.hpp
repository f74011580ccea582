#pragma once

#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "system_calls.hpp"

namespace zorvik::testing {

// The kernel's calls, except those a test has told to fail, once per errno
// given, as a broken network or a signal would make them.
class ScriptedCalls final : public SystemCalls {
public:
    std::map<std::string, std::deque<int>> failures;
    int polls = 0, receives = 0;
    std::function<void()> onReceive = [] {};  // may throw, as an allocation can

    int socket(int d, int t, int p) override { return fails("socket") ? -1 : real.socket(d, t, p); }
    int close(int fd) override { return real.close(fd); }
    int setsockopt(int fd, int l, int n, const void* v, socklen_t len) override {
        return fails("setsockopt") ? -1 : real.setsockopt(fd, l, n, v, len);
    }
    ssize_t sendto(int fd, const void* d, size_t n, int f, const sockaddr* to, socklen_t tl) override {
        return fails("sendto") ? -1 : real.sendto(fd, d, n, f, to, tl);
    }
    int recvmmsg(int fd, mmsghdr* m, unsigned c, int f) override {
        return ++receives, onReceive(), fails("recvmmsg") ? -1 : real.recvmmsg(fd, m, c, f);
    }
    int poll(pollfd* fds, nfds_t n, int t) override { return ++polls, real.poll(fds, n, t); }

private:
    bool fails(const char* name) {
        auto& queue = failures[name];
        return !queue.empty() && (errno = queue.front(), queue.pop_front(), true);
    }
    SystemCalls& real = realSystemCalls();
};

}  // namespace zorvik::testing
