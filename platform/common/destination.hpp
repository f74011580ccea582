#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvik {

// Where the endpoint sends: set by the logic before each send, checked here
// the same way on every platform. Address and port are in network byte order.
class Destination {
public:
    // Throws Failure(EINVAL) unless 1 to 65535.
    void setPort(std::int32_t port);
    // A literal dotted IPv4 address only: the endpoint never looks names up.
    void setHost(std::string_view host);

    struct Address {
        std::uint32_t address;
        std::uint16_t port;
        std::uint8_t groupTtl;  // the hops a group datagram may take; 1 keeps it on the link
    };
    // Throws Failure(EDESTADDRREQ) while the host or the port is unset.
    Address require() const;

    // A group datagram leaves by each of these interfaces (their IPv4
    // addresses), one copy each; with none, by the route's choice.
    void leaveBy(std::vector<std::uint32_t> interfaceAddresses) { interfaces_ = std::move(interfaceAddresses); }
    // Throws Failure(EINVAL) unless 1 to 255; 1 until set.
    void setGroupTtl(std::int32_t ttl);
    // Calls send(interface address) once per interface, or once with 0 for the route's choice.
    template <typename Send>
    void forEachInterface(Send&& send) const {
        if (interfaces_.empty()) {
            send(std::uint32_t{0});
        }
        for (const std::uint32_t address : interfaces_) {
            send(address);
        }
    }

private:
    std::vector<std::uint32_t> interfaces_;
    std::optional<std::uint32_t> host_;
    std::optional<std::uint16_t> port_;
    std::uint8_t groupTtl_ = 1;
};

// The address of dotted-decimal text (four decimal numbers 0 to 255, no
// leading zeros, nothing else), in network byte order.
std::optional<std::uint32_t> parseDottedAddress(std::string_view text);

// A port between host byte order and network byte order (the high byte first
// in memory); the conversion is its own inverse.
std::uint16_t swapPortOrder(std::uint16_t port);

// The dotted-decimal text of an IPv4 address given in network byte order.
std::string dottedAddress(std::uint32_t networkOrder);

}  // namespace zorvik
