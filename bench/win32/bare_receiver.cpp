// zorvik-bench-bare.exe [--buffer BYTES] N: the Winsock limit under Wine. Sends
// the probe, then a single thread takes answers with recvfrom as fast as they
// come, without listing them, until N have come or none for a second.
//
// zorvik-bench-bare.exe --fill [--buffer BYTES]: what receive buffer the system
// really grants a socket that asked for BYTES. Wine answers getsockopt from its
// own records, so this fills the socket from itself without reading and reports
// how much the kernel queued and dropped, from the namespace's /proc/net/udp;
// then how long each receive takes under Wine while datagrams wait, which
// bounds how fast any Winsock receiver here takes datagrams in.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol.hpp"

namespace {

using Clock = std::chrono::steady_clock;

int grantedBySocket(SOCKET s) {
    int bytes = 0;
    int length = sizeof bytes;
    getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &length);
    return bytes;
}

// Takes in everything waiting on `s`, one receive each, as the receivers do.
double microsecondsPerReceive(SOCKET s) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    static char datagram[65536];
    long received = 0;
    const auto start = Clock::now();
    while (recv(s, datagram, sizeof datagram, 0) >= 0) ++received;
    const std::chrono::duration<double, std::micro> taken = Clock::now() - start;
    return received > 0 ? taken.count() / static_cast<double>(received) : 0;
}

int fill(SOCKET s) {
    sockaddr_in self{};
    self.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &self.sin_addr);
    int length = sizeof self;
    if (bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
        std::fprintf(stderr, "zorvik-bench-bare: bind: %d\n", WSAGetLastError());
        return 1;
    }
    // Far more than a capped buffer holds, well within an uncapped one.
    constexpr int kSent = 4000;
    for (int i = 0; i < kSent; ++i) {
        sendto(s, "ZV", 2, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
    }
    Sleep(100);
    // Columns: sl local rem st tx:rx tr tm retrnsmt uid timeout inode ref pointer drops.
    std::FILE* table = std::fopen("Z:\\proc\\net\\udp", "r");
    char line[512];
    const unsigned port = ntohs(self.sin_port);
    while (table != nullptr && std::fgets(line, sizeof line, table) != nullptr) {
        unsigned localPort = 0;
        unsigned long queued = 0;
        unsigned long drops = 0;
        if (std::sscanf(line, " %*u: %*x:%x %*x:%*x %*x %*x:%lx %*x:%*x %*x %*u %*u %*u %*u %*x %lu", &localPort,
                        &queued, &drops) == 3 &&
            localPort == port) {
            std::printf("sent=%d queued_bytes=%lu dropped=%lu rcvbuf_said=%d receive_us=%.1f\n", kSent, queued, drops,
                        grantedBySocket(s), microsecondsPerReceive(s));
            return 0;
        }
    }
    std::fprintf(stderr, "zorvik-bench-bare: port %u not in /proc/net/udp\n", port);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik;
    int buffer = 0;
    long expected = 0;
    bool filling = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--buffer") == 0 && i + 1 < argc) {
            buffer = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--fill") == 0) {
            filling = true;
        } else {
            expected = std::atol(argv[i]);
        }
    }
    if (expected <= 0 && !filling) {
        std::fprintf(stderr, "usage: zorvik-bench-bare.exe [--buffer BYTES] N | --fill [--buffer BYTES]\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (buffer > 0) {
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    }
    if (filling) {
        return fill(s);
    }

    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(static_cast<u_short>(protocol::kPort));
    inet_pton(AF_INET, std::string(protocol::kGroup).c_str(), &group.sin_addr);
    if (sendto(s, protocol::kProbe.data(), static_cast<int>(protocol::kProbe.size()), 0,
               reinterpret_cast<sockaddr*>(&group), sizeof group) < 0) {
        std::fprintf(stderr, "zorvik-bench-bare: probe: %d\n", WSAGetLastError());
        return 1;
    }

    static char datagram[65536];
    long received = 0;
    Clock::time_point first{};
    Clock::time_point last{};
    WSAPOLLFD readable{s, POLLRDNORM, 0};
    while (received < expected && WSAPoll(&readable, 1, 1000) == 1) {
        sockaddr_in from{};
        int length = sizeof from;
        while (recvfrom(s, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length) >= 0) {
            last = Clock::now();
            if (received++ == 0) {
                first = last;
            }
            length = sizeof from;
        }
    }
    std::printf("listed=%ld lost=%ld ms=%.1f rcvbuf_said=%d\n", received, expected - received,
                std::chrono::duration<double, std::milli>(last - first).count(), grantedBySocket(s));
    return 0;
}
