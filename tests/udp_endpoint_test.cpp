#include "udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <vector>

#include <QTimer>

#include "event_loop.hpp"
#include "failure.hpp"
#include "protocol.hpp"
#include "receive_buffer_option.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::runFor;
using testing::runUntil;
using testing::UdpPeer;

// The kernel's calls, except those a test has told to fail once with an errno.
class ScriptedCalls final : public SystemCalls {
public:
    std::map<std::string, std::vector<int>> failures;
    int polls = 0;

    int socket(int d, int t, int p) override { return failOr("socket", [&] { return real().socket(d, t, p); }); }
    int close(int fd) override { return real().close(fd); }
    int setsockopt(int fd, int l, int n, const void* v, socklen_t len) override {
        return failOr("setsockopt", [&] { return real().setsockopt(fd, l, n, v, len); });
    }
    ssize_t sendto(int fd, const void* d, size_t n, int f, const sockaddr* to, socklen_t tl) override {
        return failOr("sendto", [&] { return real().sendto(fd, d, n, f, to, tl); });
    }
    int recvmmsg(int fd, mmsghdr* m, unsigned c, int f) override {
        return failOr("recvmmsg", [&] { return real().recvmmsg(fd, m, c, f); });
    }
    int poll(pollfd* fds, nfds_t n, int t) override {
        ++polls;
        return real().poll(fds, n, t);
    }

private:
    static SystemCalls& real() { return realSystemCalls(); }
    template <typename Call>
    auto failOr(const std::string& name, Call call) -> decltype(call()) {
        auto& queue = failures[name];
        if (!queue.empty()) {
            errno = queue.front();
            queue.erase(queue.begin());
            return -1;
        }
        return call();
    }
};

struct Arrival {
    std::int32_t size;
    std::string payload;
    std::string sender;
};

class UdpEndpointTest : public ::testing::Test {
protected:
    ScriptedCalls calls;
    UdpEndpoint endpoint{calls};
    UdpPeer device;
    std::vector<Arrival> arrivals;
    bool readOnArrival = true;

    void SetUp() override {
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As at start-up: without it the kernel holds only a few hundred datagrams.
        ASSERT_TRUE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
        endpoint.onDataArrival([this](std::int32_t size) {
            Arrival a{size, {}, endpoint.RemoteHostIP()};
            if (readOnArrival) {
                endpoint.GetData(a.payload, DataType::Text, size);
            }
            arrivals.push_back(a);
        });
    }

    // Sends the probe to the test's device, which learns the endpoint's port from it.
    std::uint16_t probeDevice() {
        endpoint.setRemoteHost("127.0.0.1");
        endpoint.setRemotePort(device.port());
        endpoint.SendData(protocol::kProbe);
        const auto probe = device.receive();
        EXPECT_TRUE(probe.has_value());
        return probe ? probe->fromPort : 0;
    }

    bool waitForArrivals(std::size_t count) {
        return runUntil([&] { return arrivals.size() >= count; });
    }
};

// ---- Sending ----

TEST_F(UdpEndpointTest, sendData_probe_leavesAsExactlyItsFourBytesFromTheAssignedPort) {
    EXPECT_EQ(endpoint.localPort(), 0) << "the endpoint must not bind before its first send";
    endpoint.setRemoteHost("127.0.0.1");
    endpoint.setRemotePort(device.port());
    endpoint.SendData(protocol::kProbe);
    const auto probe = device.receive();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->payload, std::string("\x5A\x56\x00\x01", 4));
    EXPECT_EQ(probe->fromPort, endpoint.localPort());
}

TEST_F(UdpEndpointTest, sendData_again_keepsTheSamePortSoEarlierAnswersStillArrive) {
    const auto first = probeDevice();
    const auto second = probeDevice();
    EXPECT_NE(first, 0);
    EXPECT_EQ(first, second);
}

TEST_F(UdpEndpointTest, sendData_networkUnreachable_failsWithErrnoAndItsText) {
    calls.failures["sendto"] = {ENETUNREACH};
    endpoint.setRemoteHost("127.0.0.1");
    endpoint.setRemotePort(device.port());
    try {
        endpoint.SendData(protocol::kProbe);
        FAIL() << "the failed send was reported as success";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 101);
        EXPECT_EQ(f.description(), "Network is unreachable");
    }
    EXPECT_FALSE(device.receive(100));
}

TEST_F(UdpEndpointTest, sendData_interruptedOrBufferFull_retriesAndSendsOnce) {
    calls.failures["sendto"] = {EINTR, EAGAIN};
    probeDevice();
    EXPECT_EQ(calls.polls, 1);
    EXPECT_FALSE(device.receive(100)) << "the probe went out twice";
}

TEST_F(UdpEndpointTest, invalidInput_failsWithoutTouchingTheNetwork) {
    for (const char* host : {"localhost", "224.1.2", "224.1.2.3.4", "224.1.2.300", "", " 224.1.2.3"}) {
        EXPECT_THROW(endpoint.setRemoteHost(host), Failure) << host;
    }
    EXPECT_THROW(endpoint.setRemoteHost(std::string_view("224.1.2.3\0x", 11)), Failure);
    for (std::int32_t port : {0, -1, 65536}) {
        EXPECT_THROW(endpoint.setRemotePort(port), Failure) << port;
    }
    EXPECT_THROW(endpoint.setProtocol(0), Failure);
    EXPECT_THROW(endpoint.SendData(protocol::kProbe), Failure) << "no destination was ever set";

    UdpEndpoint fresh{calls};
    EXPECT_THROW(static_cast<void>(fresh.SocketHandle()), Failure);
    EXPECT_THROW(fresh.SendData(protocol::kProbe), Failure);
}

TEST_F(UdpEndpointTest, setProtocol_socketRefused_failsWithErrno) {
    UdpEndpoint fresh{calls};
    calls.failures["socket"] = {EMFILE};
    try {
        fresh.setProtocol(protocol::kProtocolUdp);
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), EMFILE);
    }
}

// ---- Receiving ----

TEST_F(UdpEndpointTest, arrivals_ofEverySize_reportTheirSizeAndWholeContent) {
    const auto port = probeDevice();
    const std::vector<std::string> payloads = {
        "", "x", std::string("\0Z\0", 3), std::string(65507, '\0') + "", std::string(1000, '\xff')};
    for (const auto& p : payloads) {
        device.sendTo(port, p);
    }
    ASSERT_TRUE(waitForArrivals(payloads.size()));
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(arrivals[i].size, static_cast<std::int32_t>(payloads[i].size()));
        EXPECT_EQ(arrivals[i].payload, payloads[i]) << "datagram " << i;
        EXPECT_EQ(arrivals[i].sender, "127.0.0.1");
    }
}

TEST_F(UdpEndpointTest, arrivals_fromSeveralHosts_reportEachSender) {
    const auto port = probeDevice();
    UdpPeer second("127.0.0.2");
    UdpPeer third("127.0.0.3");
    second.sendTo(port, "a");
    third.sendTo(port, "b");
    second.sendTo(port, "c");
    ASSERT_TRUE(waitForArrivals(3));
    EXPECT_EQ(arrivals[0].sender, "127.0.0.2");
    EXPECT_EQ(arrivals[1].sender, "127.0.0.3");
    EXPECT_EQ(arrivals[2].sender, "127.0.0.2");
}

TEST_F(UdpEndpointTest, burst_ofHundreds_raisesOneEventEachInOrderEachReadTakingOne) {
    const auto port = probeDevice();
    constexpr int kCount = 800;
    for (int i = 0; i < kCount; ++i) {
        device.sendTo(port, std::to_string(i));
    }
    ASSERT_TRUE(waitForArrivals(kCount)) << arrivals.size() << " of " << kCount;
    runFor(std::chrono::milliseconds(50));
    ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(arrivals[static_cast<std::size_t>(i)].payload, std::to_string(i));
    }
}

TEST_F(UdpEndpointTest, burst_whileDelivering_givesTheEventLoopTurns) {
    const auto port = probeDevice();
    constexpr std::size_t kCount = 3000;
    endpoint.onDataArrival([this](std::int32_t size) {
        Arrival a{size, {}, {}};
        endpoint.GetData(a.payload, DataType::Text, size);
        arrivals.push_back(a);
        QThread::usleep(20);  // a handler as slow as appending to a real text box
    });
    for (std::size_t i = 0; i < kCount; ++i) {
        device.sendTo(port, "x");
    }
    std::size_t deliveredAtFirstTurn = 0;
    ASSERT_TRUE(runUntil([&] { return !arrivals.empty(); }));
    QTimer::singleShot(0, [&] { deliveredAtFirstTurn = arrivals.size(); });
    ASSERT_TRUE(waitForArrivals(kCount));
    EXPECT_GT(deliveredAtFirstTurn, 0u);
    EXPECT_LT(deliveredAtFirstTurn, kCount) << "the whole burst ran without the event loop getting a turn";
}

TEST_F(UdpEndpointTest, unreadDatagram_staysFirstForTheNextRead) {
    const auto port = probeDevice();
    readOnArrival = false;
    UdpPeer second("127.0.0.2");
    device.sendTo(port, "first");
    ASSERT_TRUE(waitForArrivals(1));
    readOnArrival = true;
    second.sendTo(port, "second");
    ASSERT_TRUE(waitForArrivals(2));
    EXPECT_EQ(arrivals[1].payload, "first");
    EXPECT_EQ(arrivals[1].sender, "127.0.0.2") << "the sender is that of the datagram raising the event";
    std::string data;
    endpoint.GetData(data, DataType::Text, 100);
    EXPECT_EQ(data, "second");
    EXPECT_THROW(endpoint.GetData(data, DataType::Text, 100), Failure);
}

TEST_F(UdpEndpointTest, getData_fewerBytesThanArrived_takesThoseAndTheWholeDatagram) {
    const auto port = probeDevice();
    readOnArrival = false;
    device.sendTo(port, "abcdef");
    device.sendTo(port, "next");
    ASSERT_TRUE(waitForArrivals(2));
    std::string data;
    endpoint.GetData(data, DataType::Text, 3);
    EXPECT_EQ(data, "abc");
    endpoint.GetData(data, DataType::Text, 100);
    EXPECT_EQ(data, "next");
}

TEST_F(UdpEndpointTest, receive_interrupted_retriesAndLosesNothing) {
    const auto port = probeDevice();
    calls.failures["recvmmsg"] = {EINTR, ECONNREFUSED};
    device.sendTo(port, "one");
    device.sendTo(port, "two");
    ASSERT_TRUE(waitForArrivals(2));
    EXPECT_EQ(arrivals[0].payload, "one");
    EXPECT_EQ(arrivals[1].payload, "two");
}

TEST_F(UdpEndpointTest, stop_abandonsPendingDatagrams) {
    const auto port = probeDevice();
    device.sendTo(port, "late");
    endpoint.stop();
    runFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(arrivals.empty());
}

// ---- Start-up option ----

TEST_F(UdpEndpointTest, receiveBufferOption_growsTheBufferAsFarAsTheSystemAllows) {
    const int fd = endpoint.SocketHandle();
    int before = 0;
    socklen_t length = sizeof before;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &before, &length);

    ASSERT_TRUE(ReceiveBufferOption(calls).apply(fd));
    int after = 0;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &after, &length);
    long limit = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> limit;
    // The kernel doubles what it grants, for its own bookkeeping.
    EXPECT_EQ(after, 2 * std::min<long>(ReceiveBufferOption::kRequestedBytes, limit));
    EXPECT_GE(after, before);

    calls.failures["setsockopt"] = {EPERM};
    EXPECT_FALSE(ReceiveBufferOption(calls).apply(fd));
}

}  // namespace
}  // namespace zorvik
