// The endpoint's receive path behind its system-call seam: a scripted kernel
// hands out datagrams (any count, size and sender) and errors, handlers read or
// leave them. Every datagram taken in is announced once, in order, with its size
// and sender; GetData gives the oldest unread one, cut; nothing is taken in or
// announced after stop or deliverPending. The "socket": an eventfd, always readable.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

#include <QCoreApplication>

#include "protocol.hpp"
#include "udp_endpoint.hpp"

namespace {

void require(bool holds, const char* invariant) {
    if (!holds) std::fprintf(stderr, "udp receive: broken: %s\n", invariant), std::abort();
}

struct Datagram {
    std::uint32_t number;
    std::size_t size;
    sockaddr_in from;
    std::string payload(std::size_t length) const {  // a function of the number, so that a mix-up shows
        std::string bytes(std::min(size, length), '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((number * 131U + i * 7U) & 0xFFU);
        return bytes;
    }
};

// Each scripted result of recvmmsg is an errno, or datagrams.
struct Kernel final : zorvik::SystemCalls {
    std::deque<std::pair<int, std::deque<Datagram>>> script;
    std::vector<Datagram> handedOut;
    std::deque<Datagram> unread;
    bool closed = false;

    int socket(int, int, int) override { return ::eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC); }
    int close(int fd) override { return ::close(fd); }
    int setsockopt(int, int, int, const void*, socklen_t) override { return 0; }
    ssize_t sendto(int, const void*, size_t, int, const sockaddr*, socklen_t) override { return -1; }
    int poll(pollfd*, nfds_t, int) override { return 0; }
    int recvmmsg(int, mmsghdr* messages, unsigned count, int) override {
        require(!closed, "nothing is taken in after stop or deliverPending");
        if ((errno = script.empty() ? EAGAIN : script.front().first) != 0) {
            if (!script.empty()) script.pop_front();
            return -1;
        }
        auto& batch = script.front().second;
        int given = 0;
        for (; given < static_cast<int>(count) && !batch.empty(); ++given, batch.pop_front()) {
            const Datagram& d = unread.emplace_back(handedOut.emplace_back(batch.front()));
            std::memcpy(messages[given].msg_hdr.msg_iov[0].iov_base, d.payload(d.size).data(), d.size);
            std::memcpy(messages[given].msg_hdr.msg_name, &d.from, sizeof d.from);
            messages[given].msg_len = static_cast<unsigned>(d.size);
        }
        if (batch.empty()) script.pop_front();
        return given;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Kernel kernel;
    zorvik::UdpEndpoint endpoint(kernel);
    endpoint.setProtocol(zorvik::protocol::kProtocolUdp);
    std::size_t scriptedBytes = 0, announced = 0;
    bool stopped = false;
    const auto readOldest = [&] {
        const auto maxBytes = input.ConsumeIntegralInRange<std::int32_t>(0, 70000);
        std::string bytes;
        endpoint.GetData(bytes, zorvik::DataType::Text, maxBytes);
        require(bytes == kernel.unread.front().payload(static_cast<std::size_t>(maxBytes)), "GetData gives the oldest");
        kernel.unread.pop_front();
    };
    endpoint.onDataArrival([&](std::int32_t bytes) {
        require(!stopped && announced < kernel.handedOut.size(), "only datagrams taken in, once, until stop");
        const Datagram d = kernel.handedOut[announced++];
        char sender[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &d.from.sin_addr, sender, sizeof sender);
        require(bytes == static_cast<std::int32_t>(d.size) && endpoint.RemoteHostIP() == sender, "size and sender");
        if (input.ConsumeBool()) readOldest();
    });
    for (std::uint32_t scripted = 0; input.remaining_bytes() > 0;) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0: {  // mostly small, like answers; sometimes anything up to the limit
            auto& batch = kernel.script.emplace_back(0, std::deque<Datagram>{}).second;
            for (int n = input.ConsumeIntegralInRange(1, 80); n > 0 && scriptedBytes < (32U << 20); --n) {
                const auto length = input.ConsumeIntegralInRange<std::size_t>(0, input.ConsumeBool() ? 64 : 65507);
                batch.push_back({scripted++, length, {AF_INET, input.ConsumeIntegral<std::uint16_t>(),
                                                      {input.ConsumeIntegral<std::uint32_t>()}, {}}});
                scriptedBytes += length;
            }
            break;
        }
        case 1: kernel.script.emplace_back(input.PickValueInArray({EINTR, EAGAIN, ECONNREFUSED}), std::deque<Datagram>{}); break;
        case 2: QCoreApplication::processEvents(); break;
        case 3:  // only one announced already: one not yet announced never would be
            if (kernel.handedOut.size() - kernel.unread.size() < announced) readOldest();
            break;
        case 4: endpoint.deliverPending(), kernel.closed = true; break;
        default: endpoint.stop(), kernel.closed = stopped = true;
        }
    }
    endpoint.deliverPending();
    require(stopped || announced == kernel.handedOut.size(), "every datagram taken in is announced");
    return 0;
}
