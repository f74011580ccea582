#pragma once

#include <functional>
#include <map>
#include <vector>

#include "system_calls.hpp"

namespace zorvik {

// The event loop of a program without a toolkit: poll over the descriptors
// that are watched, each ready one's callback in turn, then what was posted.
// Every descriptor ready in a turn gets its call, in the order of their
// numbers, before any is called again, so that a stream of wake-ups cannot
// keep a timer or a stop request waiting.
class PosixEventLoop {
public:
    using Callback = std::function<void()>;

    explicit PosixEventLoop(SystemCalls& calls = realSystemCalls()) : calls_(calls) {}
    PosixEventLoop(const PosixEventLoop&) = delete;
    PosixEventLoop& operator=(const PosixEventLoop&) = delete;

    // `ready` runs whenever `fd` is readable, has hung up or failed, until unwatched.
    void watch(int fd, Callback ready) { watched_[fd] = std::move(ready); }
    void unwatch(int fd) noexcept { watched_.erase(fd); }
    // `callback` runs once, at the end of the next turn.
    void post(Callback callback) { posted_.push_back(std::move(callback)); }

    // Turns until quit, then returns its status. Throws Failure when poll
    // fails, and whatever a callback throws.
    int run();
    // run() returns before it calls anything more.
    void quit(int status) noexcept {
        status_ = status;
        quitting_ = true;
    }

private:
    void turn();

    SystemCalls& calls_;
    std::map<int, Callback> watched_;
    std::vector<Callback> posted_;
    int status_ = 0;
    bool quitting_ = false;
};

}  // namespace zorvik
