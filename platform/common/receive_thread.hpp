#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "arrival_queue.hpp"
#include "datagram_socket.hpp"

namespace zorvik {

// A thread that does nothing but move datagrams from a source into the queue,
// from start() until stop(), so that the system's queue is emptied however long
// the UI thread is busy. It wakes the UI thread when datagrams wait: once, until
// the UI thread has taken them all and rearms it, and once every few
// milliseconds at the most, so that its wake-ups do not take the processor from
// the receive thread in the middle of a burst. A failure ends the thread; it is
// kept for the UI thread, which is woken for it.
class ReceiveThread {
public:
    // From the receive thread: have the UI thread look at the queue soon.
    using Wake = std::function<void()>;

    ReceiveThread(ArrivalQueue& queue, Wake wake) : queue_(queue), wake_(std::move(wake)) {}
    ~ReceiveThread() { stop(); }
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;

    // Returns once the thread runs: answers to a probe sent right after would
    // otherwise meet a full buffer.
    void start(DatagramSource& source);
    bool started() const noexcept { return source_ != nullptr; }

    // Interrupts the source and joins the thread; afterwards the source is the
    // caller's alone. Does nothing if the thread is not running.
    void stop() noexcept;
    // Stops, then takes in what the source holds now, on the caller's thread:
    // one pass, within the queue's count cap and `drainFor`, since a stream that
    // outpaces the receive would keep it going. A failure is kept, as the
    // thread's would be.
    void stop(std::chrono::milliseconds drainFor) noexcept;

    // UI side: everything waiting has been taken; wake again when more comes.
    void rearm() noexcept { armed_ = true; }
    // UI side: takes back the wake-up the thread may give, true if it was there.
    bool disarm() noexcept { return armed_.exchange(false); }

    // UI side: whether the thread has ended on a failure not yet taken; once
    // it has, whatever the thread took in before is in the queue.
    bool failed() const noexcept { return failed_.load(); }
    std::exception_ptr takeFailure();

private:
    void run(DatagramSource& source) noexcept;
    void keep(std::exception_ptr failure) noexcept;
    // One batch from the source into the queue, stamped with the time; how many it held.
    std::size_t takeBatch(DatagramSource& source, ReceiveBatch& batch);
    // Wakes the UI thread if datagrams wait and it may; how long until it may,
    // or negative for as long as it takes.
    std::chrono::milliseconds wakeIfDue();

    ArrivalQueue& queue_;
    Wake wake_;
    DatagramSource* source_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> armed_ = true;
    std::chrono::steady_clock::time_point lastWake_;  // the receive thread's
    std::atomic<bool> failed_ = false;
    std::mutex failureMutex_;
    std::exception_ptr failure_;
};

}  // namespace zorvik
