#include "stop_signals.hpp"

#include <poll.h>
#include <sys/signalfd.h>

#include <csignal>

#include "errors.hpp"

namespace zorvik::devicesim {

StopSignals::StopSignals() {
    sigset_t stops;
    if (sigemptyset(&stops) != 0 || sigaddset(&stops, SIGINT) != 0 || sigaddset(&stops, SIGTERM) != 0) {
        throwErrno("signal set");
    }
    // A shell starts background jobs with SIGINT ignored, and an ignored signal
    // is discarded even while blocked; restore the default first.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    if (sigaction(SIGINT, &standard, nullptr) != 0 || sigaction(SIGTERM, &standard, nullptr) != 0) {
        throwErrno("sigaction");
    }
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) throwErrno("sigprocmask");
    fd_ = UniqueFd(signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC));
    if (fd_.get() < 0) throwErrno("signalfd");
}

bool StopSignals::pending() const {
    pollfd entry{fd_.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, 0);
    if (ready < 0 && errno != EINTR) throwErrno("poll for signals");
    return ready > 0;
}

}  // namespace zorvik::devicesim
