// A multicast router's forwarding, in user space, for the routed test: this
// kernel has no multicast routing. Each group datagram that arrives on IN is
// sent on by OUT with its source kept and its TTL one less; at TTL 1 it is
// dropped, as a router would. Prints "ready" once it listens.
// usage: multicast_forwarder IN OUT
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "multicast_forwarder: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: multicast_forwarder IN OUT\n");
        return 2;
    }
    const unsigned in = if_nametoindex(argv[1]);
    const unsigned out = if_nametoindex(argv[2]);
    if (in == 0 || out == 0) return fail("no such interface");
    // A packet socket sees group traffic that no one on this host has joined.
    const int listener = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    if (listener < 0) return fail("packet socket");
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_IP);
    at.sll_ifindex = static_cast<int>(in);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) return fail("bind");
    // The kernel fills in the header's checksum and length; the rest is ours.
    const int sender = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (sender < 0) return fail("raw socket");
    const ip_mreqn by{{}, {}, static_cast<int>(out)};
    if (setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF, &by, sizeof by) != 0) return fail("IP_MULTICAST_IF");
    if (setsockopt(sender, SOL_SOCKET, SO_BINDTODEVICE, argv[2], static_cast<socklen_t>(std::strlen(argv[2]))) != 0)
        return fail("SO_BINDTODEVICE");
    std::puts("ready");
    std::fflush(stdout);

    std::array<unsigned char, 65536> packet{};
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(listener, packet.data(), packet.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            if (errno == EINTR) continue;
            return fail("recvfrom");
        }
        if (from.sll_pkttype == PACKET_OUTGOING || static_cast<std::size_t>(length) < sizeof(iphdr)) continue;
        iphdr header{};
        std::memcpy(&header, packet.data(), sizeof header);
        const std::uint32_t group = ntohl(header.daddr);
        const std::size_t headerLength = header.ihl * 4u;
        // Group traffic only, and never the link-local groups, which routers keep.
        if (header.version != 4 || (group >> 28) != 0xE || (group >> 8) == 0xE00000 || header.ttl <= 1) continue;
        header.ttl = static_cast<std::uint8_t>(header.ttl - 1);
        std::memcpy(packet.data(), &header, sizeof header);
        if (header.protocol == IPPROTO_UDP && static_cast<std::size_t>(length) >= headerLength + sizeof(udphdr)) {
            // veth's offload may hand the datagram on with its checksum unfinished: send none.
            std::memset(packet.data() + headerLength + offsetof(udphdr, check), 0, 2);
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = header.daddr;
        if (sendto(sender, packet.data(), static_cast<std::size_t>(length), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to) < 0)
            std::fprintf(stderr, "multicast_forwarder: sendto: %s\n", std::strerror(errno));
    }
}
