// The parts of the endpoint that both platforms share, each on its own: the
// arrival queue and its caps; the receive thread, its wake-ups and its last
// pass; the delivery slices, with the UI thread's event loop played by the test.
#include "arrival_queue.hpp"

#include <gtest/gtest.h>

#include "delivery_slices.hpp"
#include "endpoint_fakes.hpp"
#include "failure.hpp"
#include "receive_thread.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::batchOf;

TEST(ArrivalQueueTest, flood_pastTheCountOrByteCap_isDroppedAndCounted_untilReleasingMakesRoom) {
    ArrivalQueue queue;
    constexpr std::size_t kCount = ArrivalQueue::kMaxQueuedDatagrams;
    for (std::size_t pushed = 0; pushed <= kCount; pushed += 1024) {  // one batch more than fits
        auto batch = batchOf(1024, 0, pushed);
        queue.push(batch);
        EXPECT_TRUE(batch.empty());
    }
    EXPECT_EQ(queue.droppedAtCaps(), 1024u);
    std::deque<ReceivedDatagram> taken;
    queue.takeAll(taken);
    ASSERT_EQ(taken.size(), kCount);
    EXPECT_EQ(taken.back().payload, std::to_string(kCount - 1));
    auto more = batchOf(1);
    queue.push(more);
    EXPECT_EQ(queue.droppedAtCaps(), 1025u) << "taken and not released still counts";
    for (const auto& datagram : taken) queue.release(datagram);
    taken.clear();
    auto large = batchOf(2000, 60000);
    queue.push(large);
    queue.takeAll(taken);
    const std::size_t kept = taken.size();
    EXPECT_TRUE(kept * 60000 <= ArrivalQueue::kMaxQueuedBytes && (kept + 1) * 60100 > ArrivalQueue::kMaxQueuedBytes) << kept;
    EXPECT_EQ(queue.droppedAtCaps(), 1025 + 2000 - kept);
    EXPECT_FALSE(queue.waiting());
}

// The slices, on a queue the test fills, and the receive thread they rearm.
struct Slices {
    ArrivalQueue queue;
    testing::TestWaker waker;
    ReceiveThread thread{queue, [this] { waker.wake(); }};
    DeliverySlices slices{queue, thread, waker};
    std::vector<std::string> announced;
    std::vector<std::size_t> sliceEnds;  // arrivals announced at each slice's end
    std::vector<int> raised;

    Slices() {
        slices.handle({.arrival = [this](ReceivedDatagram&& d) { announced.push_back(d.payload), queue.release(d); },
                       .sliceEnd = [this] { sliceEnds.push_back(announced.size()); }});
        slices.runThrough([this](const std::function<void()>& slice) {
            try {
                slice();
            } catch (const Failure& failure) {
                raised.push_back(failure.number());
            }
        });
    }
    void push(ReceiveBatch batch) { queue.push(batch), waker.wake(); }
    std::size_t largestSlice() const {
        std::size_t largest = 0;
        for (std::size_t i = 0; i < sliceEnds.size(); ++i) largest = std::max(largest, sliceEnds[i] - (i ? sliceEnds[i - 1] : 0));
        return largest;
    }
};

// A slice gives the event loop back after a few milliseconds however many
// wait, and after its cap of arrivals however quickly the handlers go.
TEST(DeliverySlicesTest, slices_endWithinMillisecondsOrTheirCap_inOrder_leavingTheRestToTheNext) {
    Slices slow;
    slow.slices.handle({.arrival = [&](ReceivedDatagram&& d) { slow.announced.push_back(d.payload), std::this_thread::sleep_for(1ms); },
                        .sliceEnd = [&] { slow.sliceEnds.push_back(slow.announced.size()); }});
    slow.push(batchOf(300));
    ASSERT_TRUE(slow.waker.run([&] { return slow.announced.size() == 300; }));
    EXPECT_LT(slow.sliceEnds.front(), 50u) << "one slice ran for " << slow.sliceEnds.front() << " ms";

    Slices quick;
    quick.push(batchOf(20000));
    ASSERT_TRUE(quick.waker.run([&] { return quick.announced.size() == 20000; }));
    EXPECT_LE(quick.largestSlice(), DeliverySlices::kMaxArrivalsPerSlice);
    for (std::size_t i = 0; i < 20000; ++i) ASSERT_EQ(quick.announced[i], std::to_string(i));
    EXPECT_EQ(quick.sliceEnds.back(), 20000u);
}

// Woken while input waits, a slice runs only once the event loop has handled it.
TEST(DeliverySlicesTest, wokenWhileInputWaits_theSliceFollowsTheInput) {
    Slices slices;
    slices.waker.inputWaiting = true;
    slices.push(batchOf(3));
    ASSERT_TRUE(slices.waker.run([&] { return slices.waker.deferrals == 1; }));
    EXPECT_TRUE(slices.announced.empty()) << "a slice ran ahead of the input";
    ASSERT_TRUE(slices.waker.run([&] { return slices.announced.size() == 3; }));
    EXPECT_EQ(slices.waker.deferrals, 1);
}

// A paced burst on the receive thread, each wake answered at once: the UI
// thread is woken once per 20 ms at the most. Counted against the time the
// burst took by the same clock, a bound that no load can break.
TEST(ReceiveThreadTest, burst_wakesAnsweredAtOnce_theThreadWakesAtMostOncePer20ms) {
    struct PacedBurst final : DatagramSource {
        std::atomic<bool> interrupted = false;
        std::size_t sent = 0;
        bool receive(ReceiveBatch& batch) override {
            if (sent == 2000) return false;
            std::this_thread::sleep_for(100us);
            for (auto& datagram : batchOf(4, 0, sent)) batch.push_back(std::move(datagram));
            sent += 4;
            return true;
        }
        bool waitForDatagrams(std::chrono::milliseconds timeout) override {
            const auto end = std::chrono::steady_clock::now() + (timeout.count() < 0 ? 1h : timeout);
            while (!interrupted && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(100us);
            return !interrupted;
        }
        void interrupt() noexcept override { interrupted = true; }
    } burst;
    Slices slices;
    const auto start = std::chrono::steady_clock::now();
    slices.thread.start(burst);
    ASSERT_TRUE(slices.waker.run([&] { return slices.announced.size() == 2000; }, 20s));
    slices.thread.stop();
    const auto took = std::chrono::steady_clock::now() - start;
    const int wakes = slices.waker.wakesOffThread;
    EXPECT_TRUE(wakes >= 1 && wakes <= took / 20ms + 1) << wakes << " in " << took / 1ms << " ms";
    for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ(slices.announced[i], std::to_string(i));
}

// A failure on the receive thread ends it; the slices raise it once, after
// every datagram it took in before it, and the thread takes nothing more.
TEST(ReceiveThreadTest, failure_endsTheThread_andIsRaisedOnce_afterEverythingTakenInBeforeIt) {
    testing::ScriptedSocket socket;  // outlives the thread
    Slices slices;
    slices.thread.start(socket);
    socket.give(batchOf(1500));
    socket.giveFailure(std::make_exception_ptr(Failure(EFAULT, "Bad address")));
    ASSERT_TRUE(slices.waker.run([&] { return !slices.raised.empty(); }));
    EXPECT_EQ(slices.announced.size(), 1500u);
    EXPECT_EQ(slices.raised, std::vector<int>{EFAULT});
    slices.waker.due = true;
    slices.waker.run([] { return false; }, 50ms);
    EXPECT_EQ(slices.raised.size(), 1u);
}

// At the end, a stream that never runs dry, as a flood that outpaces the
// receive under Wine: the last pass takes in a bounded part, and nothing is
// taken in after it.
TEST(ReceiveThreadTest, stopWithLastPass_underAStreamThatNeverRunsDry_takesInABoundedPass_thenNothing) {
    struct EndlessStream final : DatagramSource {
        std::atomic<std::size_t> sent = 0;
        bool receive(ReceiveBatch& batch) override {
            std::this_thread::sleep_for(1ms);
            batch.push_back(batchOf(1, 0, sent++).front());
            return true;
        }
        bool waitForDatagrams(std::chrono::milliseconds) override { return true; }
        void interrupt() noexcept override {}
    } stream;
    Slices slices;
    slices.thread.start(stream);
    ASSERT_TRUE(slices.waker.run([&] { return slices.announced.size() >= 20; }));
    slices.thread.stop(200ms);
    const std::size_t sent = stream.sent;
    EXPECT_LT(sent, 2000u) << "the last pass read on while the stream lasted";
    slices.slices.deliverAll();
    EXPECT_EQ(slices.announced.size(), sent) << "taken in and not listed";
    for (std::size_t i = 0; i < sent; ++i) ASSERT_EQ(slices.announced[i], std::to_string(i));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(stream.sent, sent);
}

}  // namespace
}  // namespace zorvik
