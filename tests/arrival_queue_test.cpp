// The arrival queue as the receive thread fills it, with the UI thread's event
// loop played by the test: its caps and its slices.
#include "arrival_queue.hpp"

#include <gtest/gtest.h>


namespace zorvik {
namespace {

using namespace std::chrono_literals;

class TestQueue final : public ArrivalQueue {
public:
    ~TestQueue() override { stopReceiving(); }
    std::atomic<bool> due = false;
    std::atomic<int> wakesByReceiver = 0;  // requests for a slice from any thread but the test's
    std::vector<std::string> announced;
    using ArrivalQueue::takeIn, ArrivalQueue::caughtUp, ArrivalQueue::startReceiving;

    TestQueue() {
        onDataArrival([this](std::int32_t size) {
            announced.emplace_back();
            GetData(announced.back(), DataType::Text, size);
        });
    }
    bool run(const std::function<bool()>& done, std::chrono::milliseconds deadline = 5s) {
        for (const auto end = std::chrono::steady_clock::now() + deadline; !done(); std::this_thread::sleep_for(50us)) {
            if (std::chrono::steady_clock::now() > end) return false;
            if (due.exchange(false)) onSliceDue();
        }
        return true;
    }
    void setProtocol(std::int32_t) override {}
    std::int32_t SocketHandle() const override { return 1; }

protected:
    void requestSlice() noexcept override { wakesByReceiver += std::this_thread::get_id() != ui_, due = true; }
    void sendDatagram(Destination::Address, std::uint32_t, std::string_view) override {}

private:
    const std::thread::id ui_ = std::this_thread::get_id();
};

ReceiveBatch batchOf(std::size_t count, std::size_t bytes, std::size_t first = 0) {
    ReceiveBatch batch;
    for (std::size_t i = 0; i < count; ++i) batch.push_back({0x0100007f, 4567, std::to_string(first + i).append(bytes, 'z')});
    return batch;
}

TEST(ArrivalQueueTest, flood_pastTheCountOrByteCap_isDroppedAndCounted_untilReadingMakesRoom) {
    TestQueue queue;
    constexpr std::size_t kCount = ArrivalQueue::kMaxQueuedDatagrams;
    for (std::size_t taken = 0; taken <= kCount; taken += 1024) {  // one batch more than fits
        auto batch = batchOf(1024, 0, taken);
        queue.takeIn(batch);
    }
    queue.caughtUp();
    EXPECT_EQ(queue.drops().atCaps, 1024u);
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == kCount; }));
    EXPECT_EQ(queue.announced.back(), std::to_string(kCount - 1));
    auto large = batchOf(2000, 60000);
    queue.takeIn(large);
    queue.caughtUp();
    ASSERT_TRUE(queue.run([&] { return !queue.due; }));
    const std::size_t kept = queue.announced.size() - kCount;
    EXPECT_TRUE(kept * 60000 <= ArrivalQueue::kMaxQueuedBytes && (kept + 1) * 60100 > ArrivalQueue::kMaxQueuedBytes) << kept;
    EXPECT_EQ(queue.drops().atCaps, 1024 + 2000 - kept);
}

// A slice gives the event loop back after a few milliseconds, however many wait.
TEST(ArrivalQueueTest, slice_ofSlowArrivals_endsWithinMilliseconds_leavingTheRestToTheNext) {
    TestQueue queue;
    std::size_t atFirstEnd = 0;
    queue.onDataArrival([&](std::int32_t) { queue.announced.emplace_back(), std::this_thread::sleep_for(1ms); });
    queue.onSliceEnd([&] { atFirstEnd = atFirstEnd ? atFirstEnd : queue.announced.size(); });
    auto batch = batchOf(300, 0);
    queue.takeIn(batch);
    queue.caughtUp();
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == 300; }));
    EXPECT_LT(atFirstEnd, 50u) << "one slice ran for " << atFirstEnd << " ms";
}

// However quickly the handlers go, a slice reports at most its cap of arrivals.
TEST(ArrivalQueueTest, slice_ofManyQuickArrivals_reportsAtMostItsCap_leavingTheRestToTheNext) {
    TestQueue queue;
    std::size_t largest = 0, atLastEnd = 0;
    queue.onSliceEnd([&] { largest = std::max(largest, queue.announced.size() - atLastEnd), atLastEnd = queue.announced.size(); });
    auto batch = batchOf(20000, 0);
    queue.takeIn(batch);
    queue.caughtUp();
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == 20000; }));
    EXPECT_LE(largest, ArrivalQueue::kMaxArrivalsPerSlice);
}

// A paced burst on the receive thread, each wake answered at once: the UI
// thread is woken once per 20 ms at the most. Counted against the time the
// burst took by the same clock, a bound that no load can break.
TEST(ArrivalQueueTest, burst_wakesAnsweredAtOnce_theReceiveThreadWakesAtMostOncePer20ms) {
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
    TestQueue queue;
    const auto start = std::chrono::steady_clock::now();
    queue.startReceiving(burst);
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == 2000; }, 20s));
    queue.stop();
    const auto took = std::chrono::steady_clock::now() - start;
    const int wakes = queue.wakesByReceiver;
    EXPECT_TRUE(wakes >= 1 && wakes <= took / 20ms + 1) << wakes << " in " << took / 1ms << " ms";
}

// At the end, a stream that never runs dry, as a flood that outpaces the
// receive under Wine: the last pass takes in a bounded part, lists it all and
// returns, and nothing is taken in after it.
TEST(ArrivalQueueTest, deliverPending_underAStreamThatNeverRunsDry_takesInABoundedPass_thenNothing) {
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
    TestQueue queue;
    queue.startReceiving(stream);
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() >= 20; }));
    queue.deliverPending();
    const std::size_t sent = stream.sent;
    EXPECT_LT(sent, 2000u) << "the last pass read on while the stream lasted";
    EXPECT_EQ(queue.announced.size(), sent) << "taken in and not listed";
    for (std::size_t i = 0; i < sent; ++i) ASSERT_EQ(queue.announced[i], std::to_string(i));
    queue.run([] { return false; }, 20ms);
    EXPECT_EQ(stream.sent, sent);
}

}  // namespace
}  // namespace zorvik
