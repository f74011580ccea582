#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "datagram_socket.hpp"
#include "ui_waker.hpp"

namespace zorvik::testing {

// A waker whose wake-ups the test answers, as the UI thread's event loop would.
class TestWaker final : public UiWaker {
public:
    std::atomic<int> wakes = 0, wakesOffThread = 0, deferrals = 0;
    std::atomic<bool> due = false;
    bool inputWaiting = false;

    void connect(std::function<void()> woken) override { woken_ = std::move(woken); }
    void wake() noexcept override { wakesOffThread += std::this_thread::get_id() != ui_, ++wakes, due = true; }
    bool inputWaits() const override { return inputWaiting; }
    void wakeAfterInput() override { ++deferrals, due = true; }

    // Answers wake-ups until `done` holds or the deadline passes.
    bool run(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        for (const auto end = std::chrono::steady_clock::now() + deadline; !done();
             std::this_thread::sleep_for(std::chrono::microseconds(50))) {
            if (std::chrono::steady_clock::now() > end) return false;
            answer();
        }
        return true;
    }
    // Answers the wake-up that waits, if one does.
    void answer() {
        if (due.exchange(false)) woken_();
    }

private:
    std::function<void()> woken_;
    const std::thread::id ui_ = std::this_thread::get_id();
};

// A batch of `count` datagrams from 127.0.0.1:4567 whose payloads are their
// numbers from `first`, padded with `bytes` more.
inline ReceiveBatch batchOf(std::size_t count, std::size_t bytes = 0, std::size_t first = 0) {
    ReceiveBatch batch;
    for (std::size_t i = 0; i < count; ++i) batch.push_back({0x0100007f, 0xd711, std::to_string(first + i).append(bytes, 'z')});
    return batch;
}

// A socket that hands out what the test gives it, one given batch per receive,
// and whose give() returns once the receive thread has taken it all and waits
// again; a failure given is thrown by the next receive.
class ScriptedSocket final : public DatagramSocket {
public:
    std::atomic<int> sends = 0;

    void give(ReceiveBatch batch) { script(std::move(batch), true); }
    void giveFailure(std::exception_ptr failure) { script(std::move(failure), false); }

    void open(std::int32_t) override { open_ = true; }
    bool isOpen() const noexcept override { return open_; }
    std::int32_t handle() const override { return 3; }
    void send(Destination::Address, std::uint32_t, std::string_view) override { ++sends; }
    std::uint16_t localPort() const override { return 0; }
    SystemDrops drops() const override { return {}; }

    bool receive(ReceiveBatch& batch) override {
        const std::lock_guard lock(mutex_);
        if (script_.empty()) return false;
        auto next = std::move(script_.front());
        script_.pop_front();
        changed_.notify_all();
        if (auto* failure = std::get_if<std::exception_ptr>(&next)) std::rethrow_exception(*failure);
        for (auto& datagram : std::get<ReceiveBatch>(next)) batch.push_back(std::move(datagram));
        return true;
    }
    bool waitForDatagrams(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        ++waits_;
        changed_.notify_all();
        const auto ready = [this] { return interrupted_ || !script_.empty(); };
        if (timeout.count() < 0) changed_.wait(lock, ready);
        else changed_.wait_for(lock, timeout, ready);
        return !interrupted_;
    }
    void interrupt() noexcept override {
        const std::lock_guard lock(mutex_);
        interrupted_ = true;
        changed_.notify_all();
    }

private:
    void script(std::variant<ReceiveBatch, std::exception_ptr> next, bool untilTaken) {
        std::unique_lock lock(mutex_);
        const int waits = waits_;
        script_.push_back(std::move(next));
        changed_.notify_all();
        if (untilTaken) changed_.wait(lock, [&] { return interrupted_ || (script_.empty() && waits_ > waits); });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::variant<ReceiveBatch, std::exception_ptr>> script_;
    int waits_ = 0;
    bool interrupted_ = false;
    bool open_ = false;
};

}  // namespace zorvik::testing
