#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "destination.hpp"
#include "received_datagram.hpp"

namespace zorvik {

// What the receive thread needs of a socket.
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

// What the system counts of a socket's losses, where it counts them.
struct SystemDrops {
    std::optional<std::uint64_t> dropped;     // for want of room in the receive buffer
    std::optional<std::int64_t> bufferBytes;  // the receive buffer the system granted
};

// A platform's UDP socket, as the endpoint uses it: the one part of the
// endpoint that differs between systems. Every call but the receive side's is
// made on the UI thread; all of them throw Failure with the system's number.
class DatagramSocket : public DatagramSource {
public:
    // Creates the socket for the protocol, ready to send and receive; nothing
    // once it exists. Throws for any protocol but UDP.
    virtual void open(std::int32_t protocol) = 0;
    virtual bool isOpen() const noexcept = 0;
    // The system's handle of the socket; throws while there is none.
    virtual std::int32_t handle() const = 0;
    // One datagram to `to`, by the interface with that IPv4 address unless 0.
    virtual void send(Destination::Address to, std::uint32_t byInterface, std::string_view payload) = 0;
    // The port the system gave the socket, 0 while it has none.
    virtual std::uint16_t localPort() const = 0;
    virtual SystemDrops drops() const = 0;
};

}  // namespace zorvik
