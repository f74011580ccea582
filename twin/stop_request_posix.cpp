#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "failure.hpp"
#include "stop_request.hpp"
#include "stop_request_posix.hpp"

namespace zorvik {
namespace {

int stopPipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte into a pipe the event loop watches.
extern "C" void noteStop(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(stopPipe[1], &byte, 1) < 0) {
        // Full already: a stop is on its way.
    }
    errno = saved;
}

}  // namespace

int stopRequestDescriptor() noexcept { return stopPipe[0]; }

void onStopRequest(std::function<void()> stop) {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw Failure::fromErrno(errno);
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [notifier, stop = std::move(stop)] {
        notifier->setEnabled(false);
        stop();
    });
    struct sigaction action {};
    action.sa_handler = noteStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) {
        if (::sigaction(signal, &action, nullptr) != 0) throw Failure::fromErrno(errno);
    }
}

}  // namespace zorvik
