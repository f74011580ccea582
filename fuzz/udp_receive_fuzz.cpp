// Fuzzes the endpoint's receive path behind its system-call seam: a scripted
// kernel hands out batches of datagrams (any count, sizes up to the IPv4 limit,
// any sender) and errors, while handlers read or leave datagrams and deliveries
// run from deliverPending() and from the event loop. Checks that every datagram
// is announced once, in order, with its size and sender, and that GetData gives
// the oldest unread one cut to the size asked. No socket is ever made: the
// endpoint's "socket" is an eventfd that is readable while the script has data.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "failure.hpp"
#include "protocol.hpp"
#include "udp_endpoint.hpp"

namespace {

constexpr std::size_t kMaxUdpPayload = 65507;
// Bounds per input, so that one input cannot take seconds or gigabytes.
constexpr std::size_t kMaxDatagrams = 4096;
constexpr std::size_t kMaxBytes = std::size_t{32} << 20;

void require(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "udp receive: broken: %s\n", invariant);
        std::abort();
    }
}

struct Datagram {
    std::uint32_t number;  // in the order the kernel hands them out
    std::size_t size;
    sockaddr_in from;
};

// The payload is a function of the datagram's number, so a mix-up shows.
char payloadByte(std::uint32_t number, std::size_t at) {
    return static_cast<char>((number * 131U + at * 7U) & 0xFFU);
}

std::string payloadOf(const Datagram& d, std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = payloadByte(d.number, i);
    }
    return bytes;
}

std::string dotted(const sockaddr_in& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size());
    return text.data();
}

// One scripted result of recvmmsg: an errno, or datagrams.
struct Result {
    int error = 0;
    std::deque<Datagram> datagrams;
};

class ScriptedKernel final : public zorvik::SystemCalls {
public:
    std::deque<Result> script;
    // Handed to the endpoint, in order; and those of them not yet read.
    std::vector<Datagram> handedOut;
    std::deque<Datagram> unread;

    ~ScriptedKernel() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int socket(int domain, int type, int) override {
        require(domain == AF_INET && (type & SOCK_DGRAM) != 0, "the endpoint asks for a UDP socket");
        require(fd_ < 0, "one socket per endpoint");
        fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return fd_;
    }
    int close(int fd) override {
        require(fd == fd_, "the endpoint closes its own socket");
        fd_ = -1;
        return ::close(fd);
    }
    int setsockopt(int, int, int, const void*, socklen_t) override { return 0; }
    ssize_t sendto(int, const void*, size_t, int, const sockaddr*, socklen_t) override {
        require(false, "nothing is sent while receiving");
        return -1;
    }
    int poll(pollfd*, nfds_t, int) override { return 0; }

    int recvmmsg(int fd, mmsghdr* messages, unsigned count, int) override {
        require(fd == fd_, "the endpoint receives on its own socket");
        const int result = next(messages, count);
        updateReadable();
        return result;
    }

    // The socket is readable while the script holds anything.
    void updateReadable() {
        std::uint64_t counter = 0;
        if (script.empty()) {
            static_cast<void>(::read(fd_, &counter, sizeof counter));
        } else {
            counter = 1;
            if (!readable_) {
                static_cast<void>(::write(fd_, &counter, sizeof counter));
            }
        }
        readable_ = !script.empty();
    }

private:
    int next(mmsghdr* messages, unsigned count) {
        if (script.empty()) {
            errno = EAGAIN;
            return -1;
        }
        Result& front = script.front();
        if (front.error != 0) {
            errno = front.error;
            script.pop_front();
            return -1;
        }
        require(count > 0, "recvmmsg is asked for at least one datagram");
        unsigned given = 0;
        while (given < count && !front.datagrams.empty()) {
            const Datagram d = front.datagrams.front();
            front.datagrams.pop_front();
            msghdr& header = messages[given].msg_hdr;
            require(header.msg_iovlen == 1 && header.msg_iov[0].iov_len >= d.size,
                    "each slot holds the largest datagram");
            const std::string bytes = payloadOf(d, d.size);
            std::memcpy(header.msg_iov[0].iov_base, bytes.data(), bytes.size());
            require(header.msg_name != nullptr && header.msg_namelen >= sizeof d.from,
                    "each slot has room for the sender");
            std::memcpy(header.msg_name, &d.from, sizeof d.from);
            header.msg_namelen = sizeof d.from;
            header.msg_flags = 0;
            messages[given].msg_len = static_cast<unsigned>(d.size);
            handedOut.push_back(d);
            unread.push_back(d);
            ++given;
        }
        if (front.datagrams.empty()) {
            script.pop_front();
        }
        return static_cast<int>(given);
    }

    int fd_ = -1;
    bool readable_ = false;
};

enum class Handling { Read, LeaveUnread, ReadNegative, kMaxValue = ReadNegative };
enum class Step {
    ScriptDatagrams,
    ScriptError,
    DeliverPending,
    RunEvents,
    ReadOutside,
    SenderOutside,
    Stop,
    kMaxValue = Stop
};

void expectFailure(int number, const auto& call) {
    try {
        call();
    } catch (const zorvik::Failure& failure) {
        require(failure.number() == number, "the failure has the expected number");
        return;
    }
    require(false, "the call fails");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using zorvik::DataType;
    FuzzedDataProvider input(data, size);
    ScriptedKernel kernel;
    zorvik::UdpEndpoint endpoint(kernel);
    endpoint.setProtocol(zorvik::protocol::kProtocolUdp);

    std::uint32_t scripted = 0;
    std::size_t scriptedBytes = 0;
    std::size_t announced = 0;
    bool stopped = false;

    // The oldest unread datagram must be what GetData returns, cut to maxBytes.
    const auto readOldest = [&](std::int32_t maxBytes) {
        require(!kernel.unread.empty(), "a datagram is there to be read");
        const Datagram oldest = kernel.unread.front();
        kernel.unread.pop_front();
        std::string bytes;
        endpoint.GetData(bytes, DataType::Text, maxBytes);
        const std::size_t expected = std::min(oldest.size, static_cast<std::size_t>(maxBytes));
        require(bytes == payloadOf(oldest, expected), "GetData gives the oldest unread datagram, cut");
    };

    endpoint.onDataArrival([&](std::int32_t bytesTotal) {
        require(!stopped, "nothing is announced after stop");
        require(announced < kernel.handedOut.size(), "only datagrams handed out are announced");
        const Datagram current = kernel.handedOut[announced++];
        require(bytesTotal == static_cast<std::int32_t>(current.size), "the arrival has its datagram's size");
        require(endpoint.RemoteHostIP() == dotted(current.from), "the sender is the announced datagram's");
        switch (input.ConsumeEnum<Handling>()) {
        case Handling::Read:
            readOldest(input.ConsumeIntegralInRange<std::int32_t>(0, 70000));
            break;
        case Handling::LeaveUnread:
            break;
        case Handling::ReadNegative: {
            const auto maxBytes = input.ConsumeIntegralInRange<std::int32_t>(-70000, -1);
            std::string bytes;
            expectFailure(EINVAL, [&] { endpoint.GetData(bytes, DataType::Text, maxBytes); });
            break;
        }
        }
    });

    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeEnum<Step>()) {
        case Step::ScriptDatagrams: {
            Result batch;
            const int count = input.ConsumeIntegralInRange(1, 80);
            for (int i = 0; i < count && scripted < kMaxDatagrams; ++i) {
                // Mostly small, like answers; sometimes anything up to the limit.
                const std::size_t length = input.ConsumeBool()
                                               ? input.ConsumeIntegralInRange<std::size_t>(0, 64)
                                               : input.ConsumeIntegralInRange<std::size_t>(0, kMaxUdpPayload);
                if (scriptedBytes + length > kMaxBytes) {
                    break;
                }
                sockaddr_in from{};
                from.sin_family = AF_INET;
                from.sin_addr.s_addr = input.ConsumeIntegral<std::uint32_t>();
                from.sin_port = input.ConsumeIntegral<std::uint16_t>();
                batch.datagrams.push_back({scripted++, length, from});
                scriptedBytes += length;
            }
            if (!batch.datagrams.empty()) {
                kernel.script.push_back(std::move(batch));
            }
            break;
        }
        case Step::ScriptError: {
            static constexpr int kErrors[] = {EINTR, EAGAIN, ECONNREFUSED, ENOBUFS};
            kernel.script.push_back({input.PickValueInArray(kErrors), {}});
            break;
        }
        case Step::DeliverPending:
            endpoint.deliverPending();
            break;
        case Step::RunEvents:
            QCoreApplication::processEvents();
            break;
        case Step::ReadOutside:
            // Only a datagram already announced; one not yet announced would
            // then never be, by design.
            if (kernel.handedOut.size() - kernel.unread.size() < announced) {
                readOldest(input.ConsumeIntegralInRange<std::int32_t>(0, 70000));
            } else if (kernel.unread.empty()) {
                std::string bytes;
                expectFailure(EAGAIN, [&] { endpoint.GetData(bytes, DataType::Text, 1); });
            }
            break;
        case Step::SenderOutside:
            if (announced == 0) {
                expectFailure(EDESTADDRREQ, [&] { static_cast<void>(endpoint.RemoteHostIP()); });
            } else {
                require(endpoint.RemoteHostIP() == dotted(kernel.handedOut[announced - 1].from),
                        "the sender stays the last announced datagram's");
            }
            break;
        case Step::Stop:
            endpoint.stop();
            stopped = true;
            break;
        }
        kernel.updateReadable();
    }

    if (!stopped) {
        // Each call takes in at least one scripted result.
        for (std::size_t left = kernel.script.size(); left > 0 && !kernel.script.empty(); --left) {
            endpoint.deliverPending();
        }
        require(kernel.script.empty(), "the endpoint takes in everything the kernel holds");
        endpoint.deliverPending();
        require(announced == scripted, "every datagram is announced exactly once");
    }
    return 0;
}
