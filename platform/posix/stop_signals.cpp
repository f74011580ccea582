#include "stop_signals.hpp"

#include <fcntl.h>

#include <cerrno>
#include <csignal>

#include "failure.hpp"

namespace zorvik {
namespace {

// The pipe lives as long as the program: a signal may come at any time.
int stopPipe[2] = {-1, -1};
SystemCalls* handlerCalls = nullptr;

// Only what is safe in a signal handler: one byte into the pipe the loop watches.
extern "C" void noteStop(int) {
    const int saved = errno;
    const char byte = 1;
    if (handlerCalls->write(stopPipe[1], &byte, 1) < 0) {
        // Full already: a stop is on its way.
    }
    errno = saved;
}

}  // namespace

int stopRequestDescriptor() noexcept { return stopPipe[0]; }

void onStopSignal(PosixEventLoop& loop, std::function<void()> stop, SystemCalls& calls) {
    int fds[2];
    if (calls.pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw Failure::fromErrno(errno);
    stopPipe[0] = fds[0];
    stopPipe[1] = fds[1];
    handlerCalls = &calls;
    // Never read: the pipe stays readable for every write that waits on it.
    loop.watch(fds[0], [&loop, fd = fds[0], stop = std::move(stop)] {
        loop.unwatch(fd);
        stop();
    });
    struct sigaction action {};
    action.sa_handler = noteStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) {
        if (calls.sigaction(signal, &action, nullptr) != 0) throw Failure::fromErrno(errno);
    }
}

}  // namespace zorvik
