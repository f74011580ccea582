// The datagram endpoint on real sockets, inside scripts/lan's namespace.
#include "udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "event_loop.hpp"
#include "failure.hpp"
#include "protocol.hpp"
#include "receive_buffer_option.hpp"
#include "scripted_calls.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::UdpPeer;

struct Arrival {
    std::int32_t size;
    std::string payload, sender;
};

class UdpEndpointTest : public ::testing::Test {
protected:
    testing::ScriptedCalls calls;
    UdpEndpoint endpoint{calls};
    UdpPeer device;
    std::vector<Arrival> arrivals;
    bool readOnArrival = true;

    void SetUp() override {
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As at start-up: without it the kernel holds only a few hundred datagrams.
        ASSERT_TRUE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
        endpoint.onDataArrival([this](std::int32_t size) {
            arrivals.push_back({size, {}, endpoint.RemoteHostIP()});
            if (readOnArrival) endpoint.GetData(arrivals.back().payload, DataType::Text, size);
        });
    }
    // Sends the probe to the test's device, which learns the endpoint's port from it.
    std::uint16_t probeDevice() {
        endpoint.setRemoteHost("127.0.0.1");
        endpoint.setRemotePort(device.port());
        endpoint.SendData(protocol::kProbe);
        const auto probe = device.receive();
        EXPECT_EQ(probe ? probe->payload : "none", std::string("\x5A\x56\x00\x01", 4));
        return probe ? probe->fromPort : 0;
    }
    bool waitForArrivals(std::size_t count) {
        return testing::runUntil([&] { return arrivals.size() >= count; });
    }
};

// ---- Sending ----

TEST_F(UdpEndpointTest, sendData_probe_leavesOnceAsExactlyItsFourBytes_fromOnePort_despiteEintrOrEagain) {
    EXPECT_EQ(endpoint.localPort(), 0) << "the endpoint must not bind before its first send";
    calls.failures["sendto"] = {EINTR, EAGAIN};
    const auto port = probeDevice();
    EXPECT_EQ(calls.polls, 1) << "a full buffer is waited for, not spun on";
    EXPECT_FALSE(device.receive(100)) << "the probe went out twice";
    EXPECT_EQ(port, endpoint.localPort());
    EXPECT_EQ(probeDevice(), port) << "answers to the earlier probe would be lost";
}

TEST_F(UdpEndpointTest, send_invalidDestinationOrUnreachableNetwork_failsSendingNothing) {
    EXPECT_THROW(endpoint.SendData(protocol::kProbe), Failure) << "no destination was ever set";
    for (const std::string_view host : std::initializer_list<std::string_view>{
             "localhost", "224.1.2", "224.1.2.3.4", "224.1.2.300", "", " 224.1.2.3", {"224.1.2.3\0x", 11}})
        EXPECT_THROW(endpoint.setRemoteHost(host), Failure) << host;
    for (const std::int32_t port : {0, -1, 65536})
        EXPECT_THROW(endpoint.setRemotePort(port), Failure) << port;
    calls.failures["sendto"] = {ENETUNREACH};  // its number and text: see window_test
    EXPECT_THROW(probeDevice(), Failure);
    EXPECT_FALSE(device.receive(100));
    calls.failures["socket"] = {EMFILE};
    EXPECT_THROW(UdpEndpoint(calls).setProtocol(protocol::kProtocolUdp), Failure);
}

// ---- Receiving ----

TEST_F(UdpEndpointTest, arrivals_ofEverySizeFromEveryHost_reportSizeContentAndSender_despiteEintr_untilStop) {
    const auto port = probeDevice();
    calls.failures["recvmmsg"] = {EINTR, ECONNREFUSED};  // retried, and an ICMP report skipped
    const UdpPeer second("127.0.0.2");
    const std::vector<std::pair<const UdpPeer*, std::string>> sent = {
        {&device, ""}, {&second, "x"}, {&device, std::string("\0Z\0", 3)},
        {&second, std::string(65507, '\0')}, {&device, std::string(1000, '\xff')}};
    for (const auto& [peer, payload] : sent) peer->sendTo(port, payload);
    ASSERT_TRUE(waitForArrivals(sent.size()));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(arrivals[i].size, static_cast<std::int32_t>(sent[i].second.size())) << "datagram " << i;
        EXPECT_EQ(arrivals[i].payload, sent[i].second) << "datagram " << i;
        EXPECT_EQ(arrivals[i].sender, sent[i].first == &device ? "127.0.0.1" : "127.0.0.2") << i;
    }
    device.sendTo(port, "late");
    endpoint.stop();  // as the program ends: nothing more is reported
    testing::runFor(std::chrono::milliseconds(100));
    EXPECT_EQ(arrivals.size(), sent.size());
}

TEST_F(UdpEndpointTest, burst_ofThousands_oneEventEachInOrder_givingTheEventLoopTurns) {
    const auto port = probeDevice();
    constexpr std::size_t kCount = 3000;
    std::size_t deliveredAtFirstTurn = 0;
    QObject alive;  // ends the call below if the test ends first
    endpoint.onDataArrival([&](std::int32_t size) {
        arrivals.push_back({size, {}, {}});
        endpoint.GetData(arrivals.back().payload, DataType::Text, size);
        // Runs at the event loop's next turn, which must come before the burst's end.
        if (arrivals.size() == 1)
            QTimer::singleShot(0, &alive, [&] { deliveredAtFirstTurn = arrivals.size(); });
        QThread::usleep(20);  // a handler as slow as appending to a real text box
    });
    for (std::size_t i = 0; i < kCount; ++i) device.sendTo(port, std::to_string(i));
    ASSERT_TRUE(waitForArrivals(kCount)) << arrivals.size() << " of " << kCount;
    testing::runFor(std::chrono::milliseconds(50));
    ASSERT_EQ(arrivals.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) ASSERT_EQ(arrivals[i].payload, std::to_string(i));
    EXPECT_GT(deliveredAtFirstTurn, 0u);
    EXPECT_LT(deliveredAtFirstTurn, kCount) << "the whole burst ran without the event loop getting a turn";
}

TEST_F(UdpEndpointTest, unreadDatagram_staysFirst_andAShortReadTakesAWholeDatagram) {
    const auto port = probeDevice();
    readOnArrival = false;
    device.sendTo(port, "first");
    ASSERT_TRUE(waitForArrivals(1));
    readOnArrival = true;
    UdpPeer("127.0.0.2").sendTo(port, "second");
    ASSERT_TRUE(waitForArrivals(2));
    EXPECT_EQ(arrivals[1].payload, "first");
    EXPECT_EQ(arrivals[1].sender, "127.0.0.2") << "the sender is that of the datagram raising the event";
    std::string data;
    endpoint.GetData(data, DataType::Text, 3);
    EXPECT_EQ(data, "sec");
    EXPECT_THROW(endpoint.GetData(data, DataType::Text, 100), Failure) << "the rest of it was kept";
}

// ---- Start-up option ----

TEST_F(UdpEndpointTest, receiveBufferOption_growsTheBufferAsFarAsTheSystemAllows) {
    int granted = 0;
    socklen_t length = sizeof granted;
    ::getsockopt(endpoint.SocketHandle(), SOL_SOCKET, SO_RCVBUF, &granted, &length);
    long limit = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> limit;
    // The kernel doubles what it grants, for its own bookkeeping.
    EXPECT_EQ(granted, 2 * std::min<long>(ReceiveBufferOption::kRequestedBytes, limit));
    calls.failures["setsockopt"] = {EPERM};
    EXPECT_FALSE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
}

}  // namespace
}  // namespace zorvik
