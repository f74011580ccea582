// The arrival queue and its receive thread against a scripted source, with the
// UI thread's event loop played by the test: caps, order, wake-ups, failures.
#include "arrival_queue.hpp"

#include <gtest/gtest.h>

#include <condition_variable>

#include "failure.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;

// Hands out the batches a test gives it; blocks, as a socket would, while it has none.
class ScriptedSource final : public DatagramSource {
public:
    void give(ReceiveBatch batch, std::exception_ptr then = nullptr) {
        const std::lock_guard l(m);
        batches.push_back(std::move(batch));
        failure = then;
        ready.notify_one();
    }
    bool receive(ReceiveBatch& batch) override {
        const std::lock_guard l(m);
        if (batches.empty() && failure) std::rethrow_exception(std::exchange(failure, nullptr));
        if (batches.empty()) return false;
        for (auto& d : batches.front()) batch.push_back(std::move(d));
        batches.pop_front();
        return true;
    }
    bool waitForDatagrams() override {
        std::unique_lock l(m);
        ready.wait(l, [this] { return stopped || !batches.empty() || failure; });
        return !stopped;
    }
    void interrupt() noexcept override { const std::lock_guard l(m); stopped = true; ready.notify_one(); }

private:
    std::mutex m;
    std::condition_variable ready;
    std::deque<ReceiveBatch> batches;
    std::exception_ptr failure;
    bool stopped = false;
};

class TestQueue final : public ArrivalQueue {
public:
    ~TestQueue() override { stopReceiving(); }
    std::atomic<bool> due = false;
    std::vector<std::string> announced;
    using ArrivalQueue::startReceiving, ArrivalQueue::takeIn;

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
    void requestSlice() noexcept override { due = true; }
    void sendDatagram(Destination::Address, std::uint32_t, std::string_view) override {}
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
    EXPECT_EQ(queue.drops().atCaps, 1024u);
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == kCount; }));
    EXPECT_EQ(queue.announced.back(), std::to_string(kCount - 1));
    auto large = batchOf(2000, 60000);
    queue.takeIn(large);
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
    ASSERT_TRUE(queue.run([&] { return queue.announced.size() == 300; }));
    EXPECT_LT(atFirstEnd, 50u) << "one slice ran for " << atFirstEnd << " ms";
}

// The receive thread hands over batch after batch while the UI thread reads;
// a failure it meets is raised there only after everything before it, and a
// stop ends a thread that waits on its source.
TEST(ArrivalQueueTest, receiveThread_batchesInOrder_thenItsFailureLast_andStopEndsAWaitingThread) {
    ScriptedSource source;  // outlives the queue's thread
    TestQueue queue;
    queue.startReceiving(source);
    for (std::size_t b = 0; b < 20; ++b) source.give(batchOf(500, 10, b * 500), b == 19 ? std::make_exception_ptr(Failure(EFAULT, "bad")) : nullptr);
    std::optional<int> failed;
    queue.runThrough([&](const std::function<void()>& callback) {
        try { callback(); } catch (const Failure& f) { failed = f.number(); EXPECT_EQ(queue.announced.size(), 10000u); }
    });
    ASSERT_TRUE(queue.run([&] { return failed.has_value(); }));
    EXPECT_EQ(failed, EFAULT);
    for (std::size_t i = 0; i < queue.announced.size(); ++i) ASSERT_EQ(queue.announced[i], std::to_string(i).append(10, 'z'));

    ScriptedSource idle;
    TestQueue waiting;
    waiting.startReceiving(idle);
    const auto start = std::chrono::steady_clock::now();
    waiting.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the stop did not reach a waiting thread";
    idle.give(batchOf(1, 0));
    waiting.deliverPending();
    EXPECT_TRUE(waiting.announced.empty()) << "taken in after stop";
}

}  // namespace
}  // namespace zorvik
