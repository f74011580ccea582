#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls.hpp"
#include "destination.hpp"

namespace zorvik {

// What both platforms' datagram endpoints share: where they send, the queue of
// datagrams taken from the system and not yet read, and their delivery to the logic.
//
// The system's queue is drained eagerly into this one whenever the socket is
// readable and between deliveries, so a burst is not dropped by the system while
// a handler runs. Arrivals are then reported through the event loop one datagram
// at a time, in order, in slices of a few milliseconds, so paints, clicks and
// timers still get through during a large burst. GetData takes exactly the
// oldest datagram; RemoteHostIP is the sender of the one that raised the current
// arrival. Past a count or a byte cap nothing more is taken from the system,
// which then drops what does not fit, so a flood costs bounded memory and its
// backlog is listed within about a second.
class ArrivalQueue : public DatagramEndpoint {
public:
    using ArrivalHandler = std::function<void(std::int32_t bytesTotal)>;
    // Runs one callback from the event loop; the program's passes it through its
    // event dispatch, so that no failure escapes into the event loop.
    using Runner = std::function<void(const std::function<void()>& callback)>;

    // The count is above the largest discovery (100,000 answers at once).
    static constexpr std::size_t kMaxQueuedDatagrams = std::size_t{128} << 10;
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;

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

    // For the end: takes in what the system holds now (one pass, within the
    // caps), then nothing more, ever; reports every datagram not yet reported,
    // and returns.
    void deliverPending();

    // Takes in and reports nothing more, ever: the program is ending.
    void stop();

protected:
    // An IPv4 sender: address and port in network byte order.
    struct Sender {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
    };

    ~ArrivalQueue() = default;

    // The socket is readable: take in what the system holds, then deliver.
    void onReadable();
    // Adds one datagram taken from the system.
    void push(Sender from, std::string_view payload);
    bool full() const noexcept;
    bool intakeOpen() const noexcept { return !stopped_ && !intakeClosed_; }
    // The sender of the datagram that raised the current arrival, if any.
    const std::optional<Sender>& currentSender() const noexcept { return currentSender_; }

    // Takes datagrams from the system's queue, while !full(), until it is empty.
    virtual void drainSystemQueue() = 0;
    // Calls deliverSlice() through runThrough's runner on a later turn of the event loop.
    virtual void scheduleSlice() = 0;
    // Starts or stops watching the socket for datagrams.
    virtual void watchReadable(bool on) = 0;
    // The queue has been read empty after holding much: give its memory back.
    virtual void releaseMemory() {}
    // Sends one datagram to `to`, by the interface with that address unless 0.
    virtual void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) = 0;

    void deliverSlice();
    void run(const std::function<void()>& callback) { run_(callback); }

private:
    struct Datagram {
        Sender from;
        std::string payload;
    };

    void drain();
    void announceNext();

    Destination destination_;
    ArrivalHandler arrival_;
    std::function<void()> sliceEnd_;
    Runner run_ = [](const std::function<void()>& callback) { callback(); };

    // Arrived and not yet read, oldest first; the first `announced_` of them
    // have raised their arrival already.
    std::deque<Datagram> arrived_;
    std::size_t announced_ = 0;
    std::size_t queuedBytes_ = 0;
    // The most payload held since memory was last given back to the system.
    std::size_t heldBytes_ = 0;
    std::optional<Sender> currentSender_;
    bool delivering_ = false;
    bool intakeClosed_ = false;
    bool stopped_ = false;
};

}  // namespace zorvik
