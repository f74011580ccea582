#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QTimer>

#include "controls.hpp"
#include "system_calls.hpp"
#include "unique_socket.hpp"

class QSocketNotifier;

namespace zorvik {

// The window's datagram endpoint over a POSIX UDP socket.
//
// The socket is never bound or connected: the kernel gives it a port at the
// first send and it receives there until the endpoint goes. Whenever the socket
// is readable, and between deliveries, the kernel's queue is drained eagerly
// into the endpoint's own, so a burst is not dropped by the kernel while a
// handler runs. Arrivals are then reported through the event loop one datagram
// at a time, in slices of a few milliseconds, so paints, clicks and timers still
// get through during a large burst.
class UdpEndpoint final : public DatagramEndpoint {
public:
    using ArrivalHandler = std::function<void(std::int32_t bytesTotal)>;
    // Runs one callback from the event loop; the program's passes it through its
    // event dispatch, so that no failure escapes into the event loop.
    using Runner = std::function<void(const std::function<void()>& callback)>;

    explicit UdpEndpoint(SystemCalls& calls = realSystemCalls());
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override;
    void setRemotePort(std::int32_t port) override;
    void setRemoteHost(std::string_view host) override;
    void SendData(std::string_view payload) override;
    void GetData(std::string& data, DataType type, std::int32_t maxBytes) override;
    std::string RemoteHostIP() const override;

    // Called once per arrived datagram with its size, from the event loop.
    void onDataArrival(ArrivalHandler handler) { arrival_ = std::move(handler); }

    // Called at the end of every delivery slice that reported an arrival, before
    // control returns to the event loop: where a text box shows the slice's lines.
    void onSliceEnd(std::function<void()> handler) { sliceEnd_ = std::move(handler); }

    // Every callback from the event loop (readable socket, next delivery slice)
    // and deliverPending run through `runner`; by default they run directly.
    void runThrough(Runner runner) { run_ = std::move(runner); }

    // For the end: takes in what the kernel holds now (one pass, within the
    // queue's bounds), then nothing more, ever; reports every datagram not yet
    // reported, and returns.
    void deliverPending();

    // Takes in and reports nothing more, ever: the program is ending.
    void stop();

    // The port the kernel gave the socket, 0 before the first send.
    std::uint16_t localPort() const;

private:
    struct Datagram {
        sockaddr_in from;
        std::string payload;
    };
    struct ReceiveBatch;

    int requireSocket() const;
    bool full() const;
    void drainKernelQueue();
    void onReadable();
    void deliverSlice();
    void announceNext();
    void send(std::string_view payload);

    SystemCalls& calls_;
    UniqueSocket socket_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer deliveryTimer_;
    std::unique_ptr<ReceiveBatch> batch_;
    ArrivalHandler arrival_;
    std::function<void()> sliceEnd_;
    Runner run_ = [](const std::function<void()>& callback) { callback(); };

    std::optional<in_addr> remoteHost_;
    std::optional<std::uint16_t> remotePort_;

    // Arrived and not yet read, oldest first; the first `announced_` of them
    // have raised their arrival already.
    std::deque<Datagram> arrived_;
    std::size_t announced_ = 0;
    std::size_t queuedBytes_ = 0;
    // The most payload held since memory was last given back to the system.
    std::size_t heldBytes_ = 0;
    std::optional<sockaddr_in> currentSender_;
    bool delivering_ = false;
    bool intakeClosed_ = false;
    bool stopped_ = false;
};

}  // namespace zorvik
