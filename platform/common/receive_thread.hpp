#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace zorvik {

// One datagram as it is taken from the system: the sender's IPv4 address and
// port in network byte order, and the payload.
struct ReceivedDatagram {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::string payload;
};
using ReceiveBatch = std::vector<ReceivedDatagram>;

// What the receive thread needs of a socket. Each platform's endpoint provides it.
class DatagramSource {
public:
    virtual ~DatagramSource() = default;
    // Appends what the system holds now, one batch at the most, without
    // blocking; false when it holds nothing, or when a few calls in a row were
    // interrupted or reported earlier sends, which are skipped. Throws on an
    // error worth ending the program for.
    virtual bool receive(ReceiveBatch& batch) = 0;
    // Blocks until datagrams wait, the time-out passes (never when negative),
    // a signal interrupts it, or interrupt() has been called; false once it has.
    virtual bool waitForDatagrams(std::chrono::milliseconds timeout) = 0;
    // From any thread: waitForDatagrams returns false from now on.
    virtual void interrupt() noexcept = 0;
};

// Where the receive thread puts what it takes in. Called on that thread.
class DatagramSink {
public:
    virtual ~DatagramSink() = default;
    // Takes the batch's datagrams over, leaving it empty. More may follow at once.
    virtual void takeIn(ReceiveBatch& batch) = 0;
    // The system's queue is empty for now: the thread is about to wait, for
    // as long as this returns at the most (negative: for as long as it takes).
    virtual std::chrono::milliseconds caughtUp() = 0;
    // The thread has ended on this failure.
    virtual void receiveFailed(std::exception_ptr failure) noexcept = 0;
};

// A thread that does nothing but move datagrams from a source into a sink, from
// start() until stop(), so that the system's queue is emptied however long the
// program's own thread is busy.
class ReceiveThread {
public:
    ReceiveThread() = default;
    ~ReceiveThread() { stop(); }
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;

    void start(DatagramSource& source, DatagramSink& sink);
    // Interrupts the source and joins the thread; afterwards the source is the
    // caller's alone. Does nothing if the thread is not running.
    void stop() noexcept;

private:
    std::atomic<bool> stopping_{false};
    DatagramSource* source_ = nullptr;
    std::thread thread_;
};

}  // namespace zorvik
