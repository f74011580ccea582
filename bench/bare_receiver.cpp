// zorvik-bench-bare [--buffer BYTES] N: the naive baseline. Sends the probe,
// then takes answers with recvmmsg as fast as the kernel hands them over,
// without listing them anywhere, until N have come or none for a second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "measure.hpp"
#include "protocol.hpp"

int main(int argc, char** argv) {
    using namespace zorvik;
    int buffer = 0;
    long expected = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--buffer") == 0 && i + 1 < argc) {
            buffer = std::atoi(argv[++i]);
        } else {
            expected = std::atol(argv[i]);
        }
    }
    if (expected <= 0) {
        std::fprintf(stderr, "usage: zorvik-bench-bare [--buffer BYTES] N\n");
        return 2;
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (buffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(static_cast<std::uint16_t>(protocol::kPort));
    inet_pton(AF_INET, std::string(protocol::kGroup).c_str(), &group.sin_addr);
    if (sendto(fd, protocol::kProbe.data(), protocol::kProbe.size(), 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group) < 0) {
        std::perror("zorvik-bench-bare: probe");
        return 1;
    }

    constexpr unsigned kBatch = 64;
    std::vector<char> storage(kBatch * 2048);
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> headers{};
    long received = 0;
    bench::Clock::time_point first{};
    bench::Clock::time_point last{};
    pollfd readable{fd, POLLIN, 0};
    while (received < expected && poll(&readable, 1, 1000) == 1) {
        for (unsigned i = 0; i < kBatch; ++i) {
            vectors[i] = {storage.data() + i * 2048, 2048};
            headers[i] = {};
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int count = recvmmsg(fd, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (count <= 0) {
            continue;
        }
        last = bench::Clock::now();
        if (received == 0) {
            first = last;
        }
        received += count;
    }
    bench::report("listed=" + std::to_string(received) + " lost=" + std::to_string(expected - received) +
                  " ms=" + std::to_string(bench::millisecondsBetween(first, last)) +
                  " peak_kib=" + std::to_string(bench::peakResidentKiB()) +
                  " rcvbuf=" + std::to_string(bench::grantedReceiveBuffer(fd)));
    return 0;
}
