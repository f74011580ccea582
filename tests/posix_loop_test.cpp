// The event loop of the twin on Linux, with its timer, waker and stop signals,
// on the kernel's descriptors; the system's refusals through the seam.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "posix_event_loop.hpp"
#include "failure.hpp"
#include "posix_timer.hpp"
#include "posix_waker.hpp"
#include "scripted_calls.hpp"
#include "stop_signals.hpp"

namespace zorvik {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Ends a run that would otherwise wait for ever, with status 99.
struct Bound {
    explicit Bound(PosixEventLoop& loop) : timer(loop, [&loop] { loop.quit(99); }) { timer.setInterval(10000); }
    PosixTimer timer;
};

TEST(PosixEventLoopTest, quitFromACallback_runReturnsItsStatus_callingNothingMore_postedRunAtTheTurnsEnd) {
    PosixEventLoop loop;
    const Bound bound(loop);
    std::string calls;
    PosixWaker first(loop), second(loop);
    first.connect([&] {
        calls += 'a';
        loop.post([&] { calls += 'p', loop.quit(3); });
        loop.post([&] { calls += 'q', loop.quit(7); });
    });
    second.connect([&] { calls += 'b'; });
    first.wake(), second.wake();
    EXPECT_EQ(loop.run(), 3);
    EXPECT_EQ(calls, "abp");
    first.connect([&] { calls += 'a', loop.quit(5); });
    first.wake(), second.wake();
    EXPECT_EQ(loop.run(), 5);
    EXPECT_EQ(calls, "abpa");  // 'q', left from the last run, and 'b' wait for the next
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(calls, "abpabq");
}

TEST(PosixWakerTest, wakesFromAnotherThread_oneCallOnTheLoopsThread_afterInputOnTheNextTurn) {
    PosixEventLoop loop;
    const Bound bound(loop);
    PosixWaker waker(loop);
    std::vector<std::thread::id> woken;
    waker.connect([&] { woken.push_back(std::this_thread::get_id()), loop.quit(static_cast<int>(woken.size())); });
    std::thread([&] { for (int i = 0; i < 3; ++i) waker.wake(); }).join();
    EXPECT_EQ(loop.run(), 1);
    loop.post([&] { loop.quit(100); });
    EXPECT_EQ(loop.run(), 100);  // the three were one
    waker.wakeAfterInput();
    EXPECT_EQ(loop.run(), 2);
    EXPECT_EQ(woken, std::vector(2, std::this_thread::get_id()));
    EXPECT_FALSE(waker.inputWaits());
}

TEST(PosixTimerTest, running_oncePerPeriodAndOnceForPeriodsMissed_restartDiscardsThemEvenWhenSeen_stopCancels) {
    PosixEventLoop loop;
    const Bound bound(loop);
    PosixWaker restarter(loop);  // a lower number than the timer's: called first in a turn
    int fired = 0;
    PosixTimer timer(loop, [&] { loop.quit(++fired); });
    PosixTimer later(loop, [&] { loop.quit(50); });
    const auto start = Clock::now();
    timer.setInterval(10);
    std::this_thread::sleep_for(milliseconds(35));  // the loop kept from three periods
    EXPECT_EQ(loop.run(), 1);
    EXPECT_EQ(loop.run(), 2);
    EXPECT_EQ(loop.run(), 3);
    EXPECT_GE(Clock::now() - start, milliseconds(50));
    restarter.connect([&] { timer.setInterval(60000); });
    std::this_thread::sleep_for(milliseconds(25));
    restarter.wake();
    later.setInterval(100);
    EXPECT_EQ(loop.run(), 50);  // its expiry seen by poll, then discarded by the restart
    timer.setInterval(10);
    timer.stop();
    EXPECT_EQ(loop.run(), 50);
    EXPECT_EQ(fired, 3);
}

TEST(StopSignalTest, sigtermThenSigint_stopRunsOnceOnTheLoop_descriptorStaysReadable) {
    PosixEventLoop loop;
    const Bound bound(loop);
    ASSERT_EQ(stopRequestDescriptor(), -1);
    int stops = 0;
    onStopSignal(loop, [&] { loop.quit(++stops); });
    ASSERT_TRUE(::raise(SIGTERM) == 0 && ::raise(SIGINT) == 0);  // both handled before raise returns
    EXPECT_EQ(loop.run(), 1);
    loop.post([&] { loop.quit(100); });
    EXPECT_EQ(loop.run(), 100);
    pollfd stop{stopRequestDescriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&stop, 1, 0), 1);  // a write that waits on it gives way
}

TEST(PosixLoopTest, systemRefuses_eventfdTimerfdPollReadOrPipe_failureWithItsNumber) {
    testing::ScriptedCalls calls;
    const auto failsWith = [](int error, const std::function<void()>& action) {
        try {
            action();
        } catch (const Failure& failure) {
            return failure.number() == error;
        }
        return false;
    };
    PosixEventLoop loop(calls);
    calls.fail("eventfd", {EMFILE});
    EXPECT_TRUE(failsWith(EMFILE, [&] { PosixWaker waker(loop, calls); }));
    calls.fail("timerfd_create", {ENFILE});
    EXPECT_TRUE(failsWith(ENFILE, [&] { PosixTimer timer(loop, [] {}, calls); }));
    PosixTimer timer(loop, [&] { loop.quit(0); }, calls);
    calls.fail("timerfd_settime", {ENOMEM});
    EXPECT_TRUE(failsWith(ENOMEM, [&] { timer.setInterval(10); }));
    calls.fail("poll", {EINTR, EINVAL});  // interrupted, it polls again
    EXPECT_TRUE(failsWith(EINVAL, [&] { loop.run(); }));
    PosixWaker waker(loop, calls);
    waker.connect([&] { loop.quit(0); });
    waker.wake();
    calls.fail("read", {EIO});
    EXPECT_TRUE(failsWith(EIO, [&] { loop.run(); }));
    calls.fail("pipe2", {EMFILE});
    EXPECT_TRUE(failsWith(EMFILE, [&] { onStopSignal(loop, [] {}, calls); }));
}

}  // namespace
}  // namespace zorvik
