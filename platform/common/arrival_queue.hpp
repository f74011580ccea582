#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "controls.hpp"
#include "destination.hpp"
#include "receive_thread.hpp"

namespace zorvik {

// What the program knows of the answers it lost: those the system dropped for
// want of room in the socket's receive buffer, where the system counts them,
// and those the program dropped at its own caps.
struct DropCounts {
    std::optional<std::uint64_t> bySystem;
    std::uint64_t atCaps = 0;
    std::optional<std::int64_t> bufferBytes;  // the receive buffer the system granted
};

// What both platforms' datagram endpoints share: where they send, the queue of
// datagrams taken from the system and not yet read, and their delivery to the logic.
//
// A receive thread of the endpoint's own empties the system's queue into this
// one as datagrams come, so that none is dropped by the system while a handler,
// a layout or a paint keeps the program's own thread busy. That thread, the UI
// thread, is woken at most once per batch and once every few milliseconds,
// so that its wake-ups do not take the processor from the receive thread in the
// middle of a burst; it then reports the arrivals one
// datagram at a time, in order, in slices of a few milliseconds, so paints,
// input and timers still get through during a large burst. GetData takes
// exactly the oldest datagram; RemoteHostIP is the sender of the one that raised
// the current arrival. Past a count or a byte cap what arrives is dropped and
// counted, so a flood costs bounded memory and its backlog is listed within
// about a second.
class ArrivalQueue : public DatagramEndpoint, private DatagramSink {
public:
    using ArrivalHandler = std::function<void(std::int32_t bytesTotal)>;
    // Runs one callback from the event loop; the program's passes it through its
    // event dispatch, so that no failure escapes into the event loop.
    using Runner = std::function<void(const std::function<void()>& callback)>;

    // The count is above the largest discovery (100,000 answers at once).
    static constexpr std::size_t kMaxQueuedDatagrams = std::size_t{128} << 10;
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
    // The slice's end, where a text box takes the slice's lines in one
    // insertion, costs in proportion to them: so many lines at most, that a
    // slice stays short whatever a line costs.
    static constexpr std::size_t kMaxArrivalsPerSlice = 1024;

    ArrivalQueue(const ArrivalQueue&) = delete;
    ArrivalQueue& operator=(const ArrivalQueue&) = delete;

    void setRemotePort(std::int32_t port) final { destination_.setPort(port); }
    void setRemoteHost(std::string_view host) final { destination_.setHost(host); }
    // One datagram to the remote host and port, by each interface of leaveBy.
    void SendData(std::string_view payload) final;
    // A group datagram leaves by each of these interfaces (IPv4 addresses,
    // network byte order), one copy each; with none, by the route's choice.
    void leaveBy(std::vector<std::uint32_t> interfaceAddresses) { destination_.leaveBy(std::move(interfaceAddresses)); }

    void GetData(std::string& data, DataType type, std::int32_t maxBytes) final;
    std::string RemoteHostIP() const final;
    // The port the current datagram came from, in host byte order; 0 before any.
    std::uint16_t remoteSenderPort() const noexcept;

    // Called once per arrived datagram with its size, from the event loop.
    void onDataArrival(ArrivalHandler handler) { arrival_ = std::move(handler); }

    // Called at the end of every delivery slice that reported an arrival, before
    // control returns to the event loop: where a text box shows the slice's lines.
    void onSliceEnd(std::function<void()> handler) { sliceEnd_ = std::move(handler); }

    // Every callback from the event loop and deliverPending run through `runner`.
    void runThrough(Runner runner) { run_ = std::move(runner); }

    // The platform's answer to requestSlice, on the UI thread.
    void onSliceDue() { run_([this] { deliverSlice(); }); }

    // For the end: stops the receive thread, takes in what the system holds
    // now (one pass, within the caps and 200 ms), then nothing more, ever;
    // reports every datagram not yet reported, and returns.
    void deliverPending();

    // Takes in and reports nothing more, ever: the program is ending.
    void stop();

    // Answers lost so far; the platform adds what its system counts.
    virtual DropCounts drops() const;

protected:
    // An IPv4 sender: address and port in network byte order.
    struct Sender {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
    };

    ArrivalQueue() = default;
    ~ArrivalQueue() override;

    // Takes datagrams in from `source` on a thread of its own until stop().
    void startReceiving(DatagramSource& source);
    // Stops and joins the receive thread. The platform's destructor calls it
    // before anything the thread uses goes.
    void stopReceiving() noexcept;

    // From any thread: have onSliceDue() called on the UI thread soon, after the
    // input, painting and timers that wait. Not called again until it has been.
    virtual void requestSlice() noexcept = 0;
    // The queue has been read empty after holding much: give its memory back.
    virtual void releaseMemory() {}
    // Sends one datagram to `to`, by the interface with that address unless 0.
    virtual void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) = 0;

    // DatagramSink, on the receive thread (or wherever a test stands in for it).
    void takeIn(ReceiveBatch& batch) override;
    std::chrono::milliseconds caughtUp() override;
    void receiveFailed(std::exception_ptr failure) noexcept override;

    void deliverSlice();

private:
    // Moves what the receive thread has taken in behind what the UI thread
    // holds; true if some of it is still to be announced.
    bool refill();
    // After a slice: asks for another while arrivals wait; with none left,
    // raises the receive thread's failure, if any.
    void finishSlice();
    // Under the lock: what the UI thread has read is settled, and what the
    // receive thread has taken in is handed over, in constant time.
    void settleLocked(std::deque<ReceivedDatagram>& taken);
    // Under the lock: whether the receive thread is to wake the UI thread now,
    // which then counts as woken; if not, how soon it may be (negative: not
    // before more arrives).
    std::pair<bool, std::chrono::milliseconds> wakeLocked();
    // Puts what was handed over behind what the UI thread holds.
    void append(std::deque<ReceivedDatagram>& taken);
    void announceNext();

    Destination destination_;
    ArrivalHandler arrival_;
    std::function<void()> sliceEnd_;
    Runner run_ = [](const std::function<void()>& callback) { callback(); };

    // Shared with the receive thread, under mutex_.
    mutable std::mutex mutex_;
    std::deque<ReceivedDatagram> incoming_;
    // Datagrams and bytes held in incoming_ and arrived_ together, as of the
    // last settlement of what the UI thread has read.
    std::size_t heldCount_ = 0;
    std::size_t heldBytes_ = 0;
    std::uint64_t droppedAtCaps_ = 0;
    std::exception_ptr failure_;
    bool sliceRequested_ = false;
    std::chrono::steady_clock::time_point lastWake_;

    // The UI thread's own. Arrived and not yet read, oldest first; the first
    // `announced_` of them have raised their arrival already.
    std::deque<ReceivedDatagram> arrived_;
    std::size_t announced_ = 0;
    std::size_t readCount_ = 0;  // read since the last settlement
    std::size_t readBytes_ = 0;
    // The most payload held since memory was last given back to the system.
    std::size_t peakBytes_ = 0;
    std::optional<Sender> currentSender_;
    DatagramSource* source_ = nullptr;
    ReceiveThread thread_;
    bool delivering_ = false;
    bool intakeClosed_ = false;
    bool stopped_ = false;
};

}  // namespace zorvik
