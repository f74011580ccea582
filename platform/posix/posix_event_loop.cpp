#include "posix_event_loop.hpp"

#include <cerrno>
#include <utility>

#include "failure.hpp"

namespace zorvik {

int PosixEventLoop::run() {
    quitting_ = false;
    while (!quitting_) {
        turn();
    }
    return status_;
}

void PosixEventLoop::turn() {
    std::vector<pollfd> polled;
    for (const auto& [fd, ready] : watched_) {
        polled.push_back({fd, POLLIN, 0});
    }
    if (calls_.poll(polled.data(), polled.size(), posted_.empty() ? -1 : 0) < 0) {
        if (errno == EINTR) {
            return;  // a signal: what its handler made ready is seen next turn
        }
        throw Failure::fromErrno(errno);
    }
    for (const pollfd& descriptor : polled) {
        // An earlier callback may have unwatched it, or ended the loop.
        const auto found = watched_.find(descriptor.fd);
        if (quitting_ || descriptor.revents == 0 || found == watched_.end()) {
            continue;
        }
        const Callback ready = found->second;  // a copy: the callback may unwatch itself
        ready();
    }
    std::vector<Callback> due = std::exchange(posted_, {});
    for (auto next = due.begin(); next != due.end(); ++next) {
        if (quitting_) {
            posted_.insert(posted_.begin(), next, due.end());  // kept for the next run
            return;
        }
        (*next)();
    }
}

}  // namespace zorvik
