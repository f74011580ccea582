// The endpoint on Winsock's parts, on real sockets under Wine, inside a private namespace.
#include <gtest/gtest.h>

#include <deque>
#include <utility>

#include "failure.hpp"
#include "protocol.hpp"
#include "receive_buffer_option.hpp"
#include "udp_endpoint.hpp"
#include "win32_waker.hpp"
#include "win32_test_support.hpp"

namespace zorvik::win32 {
namespace {

using testing::pumpFor;
using testing::pumpUntil;
using testing::WinsockPeer;

struct Arrival {
    std::string payload, sender;
    std::uint32_t by = 0;  // the interface's index
};

class WinsockEndpointTest : public ::testing::Test {
protected:
    testing::ScriptedWinsockCalls calls;
    UdpEndpoint endpoint{win32EndpointParts(calls)};
    WinsockPeer device;
    std::vector<Arrival> arrivals;
    std::vector<int> failures;  // as the program's dispatch would report them

    void SetUp() override {
        endpoint.runThrough([this](const std::function<void()>& slice) {
            try {
                slice();
            } catch (const Failure& failure) {
                failures.push_back(failure.number());
            }
        });
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As a stock Linux kernel grants under Wine (a few hundred datagrams): never a host setting.
        const int stock = 212992;
        ASSERT_EQ(setsockopt(endpoint.SocketHandle(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&stock), sizeof stock), 0);
        int granted = 0, length = sizeof granted;
        ASSERT_EQ(getsockopt(endpoint.SocketHandle(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length), 0);
        ASSERT_LE(granted, 2 * stock) << "the test needs a buffer no larger than a stock kernel's";
        endpoint.onDataArrival([this](const ReceivedDatagram& arrival) {
            arrivals.push_back({{}, endpoint.RemoteHostIP(), arrival.interfaceIndex});
            endpoint.GetData(arrivals.back().payload, DataType::Text, static_cast<std::int32_t>(arrival.payload.size()));
        });
    }
    // Sends the probe to the test's device, which learns the endpoint's port from it.
    std::uint16_t probeDevice() {
        endpoint.setRemoteHost(device.address());
        endpoint.setRemotePort(device.port());
        endpoint.SendData(protocol::kProbe);
        const auto probe = device.receive();
        EXPECT_EQ(probe ? probe->payload : "none", std::string("\x5A\x56\x00\x01", 4));
        return probe ? probe->fromPort : 0;
    }
};

// While the UI thread is busy sending for most of a second, five times what a
// stock buffer holds arrives: the receive thread keeps up. An intake tied to the
// busy thread would keep the first few hundred; a machine stalled for a tenth of
// a second may make the system drop a few, which it counts.
TEST_F(WinsockEndpointTest, probeThenAnswersWhileBusy_everySizeAndByteOnceInOrder_fromTheirSender) {
    const std::uint16_t assigned = endpoint.localPort();
    EXPECT_NE(assigned, 0) << "a socket without a port receives nothing on Windows";
    const std::uint16_t port = probeDevice();
    EXPECT_EQ(port, assigned);
    const std::string sizes[] = {"", "Z", std::string(65507, '\0') + "", std::string("a\0b", 3)};
    for (const auto& payload : sizes) device.sendTo(port, payload);
    WinsockPeer other("127.0.0.3");
    constexpr int kBurst = 3000;
    for (int i = 0; i < kBurst; ++i) {
        other.sendTo(port, std::to_string(i));
        if (i % 5 == 0) Sleep(1);  // well under what Wine receives, so that only a stall can drop
    }
    const auto accounted = [&] { return arrivals.size() + testing::kernelDrops(port); };
    ASSERT_TRUE(pumpUntil([&] { return accounted() >= kBurst + 4; })) << arrivals.size();
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(accounted(), kBurst + 4u) << "each datagram once";
    EXPECT_LT(testing::kernelDrops(port), kBurst / 10u) << "dropped by the system while the receive thread ran";
    ASSERT_GE(arrivals.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(arrivals[i].payload, sizes[i]);
        EXPECT_EQ(arrivals[i].sender, device.address());
    }
    for (std::size_t i = 4, last = 0; i < arrivals.size(); ++i) {
        const auto number = std::stoul(arrivals[i].payload);
        ASSERT_TRUE(i == 4 || number > last) << "out of order at " << i;
        ASSERT_EQ(arrivals[i].sender, other.address());
        last = number;
    }
}

TEST_F(WinsockEndpointTest, unreachablePortOrGroupTraffic_isNoAnswer) {
    const std::uint16_t port = probeDevice();
    // An ICMP port unreachable for a send to a closed port must change nothing.
    std::uint16_t closedPort = 0;
    {
        WinsockPeer closed("127.0.0.9");
        closedPort = closed.port();
    }
    endpoint.setRemoteHost("127.0.0.9");
    endpoint.setRemotePort(closedPort);
    endpoint.SendData("unreachable");
    // A host that has joined the group sends to the group at the endpoint's port.
    WinsockPeer member("127.0.0.4");
    ip_mreq join{};
    inet_pton(AF_INET, "224.1.2.3", &join.imr_multiaddr);
    inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
    ASSERT_EQ(setsockopt(member.handle(), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&join),
                         sizeof join),
              0);
    member.sendTo(port, "to the group", "224.1.2.3");
    device.sendTo(port, "direct");
    ASSERT_TRUE(pumpUntil([&] { return !arrivals.empty(); }));
    pumpFor(std::chrono::milliseconds(200));
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].payload, "direct");
    EXPECT_NE(arrivals[0].by, 0u) << "the interface it came in on";
    endpoint.setRemoteHost(std::string(protocol::kGroup));
    endpoint.setRemotePort(protocol::kPort);
    EXPECT_NO_THROW(endpoint.SendData(protocol::kProbe));
    // --ttl: set on the socket before the probe leaves.
    DWORD ttl = 0;
    int length = sizeof ttl;
    getsockopt(endpoint.SocketHandle(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&ttl), &length);
    EXPECT_EQ(ttl, 1u);
    endpoint.setGroupTtl(3);
    EXPECT_NO_THROW(endpoint.SendData(protocol::kProbe));
    getsockopt(endpoint.SocketHandle(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&ttl), &length);
    EXPECT_EQ(ttl, 3u);
    endpoint.setGroupTtl(1);
    EXPECT_NO_THROW(endpoint.SendData(protocol::kProbe));
    getsockopt(endpoint.SocketHandle(), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&ttl), &length);
    EXPECT_EQ(ttl, 1u) << "back to the default";
}

TEST_F(WinsockEndpointTest, sendWithoutRoute_failsWithTheSystemsNumberAndText) {
    endpoint.setRemoteHost("10.1.2.3");
    endpoint.setRemotePort(protocol::kPort);
    try {
        endpoint.SendData(protocol::kProbe);
        FAIL() << "sent without a route";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), WSAENETUNREACH);
        EXPECT_FALSE(failure.description().empty());
        EXPECT_EQ(failure.description(), "A socket operation was attempted to an unreachable network.");
    }
}

// Each step fails with the number its call gave, and leaves nothing open;
// the next try starts afresh.
TEST_F(WinsockEndpointTest, setUp_eachStepFailing_failsWithItsNumber_closesWhatItMade) {
    // The last number given is the failing call's; a 0 lets one call pass.
    const std::pair<const char*, std::deque<int>> steps[] = {
        {"socket", {WSAEMFILE}},
        {"WSACreateEvent", {WSA_NOT_ENOUGH_MEMORY}},
        {"WSAIoctl", {WSAEINVAL}},  // the reports of earlier sends turned off
        {"setsockopt", {WSAENOPROTOOPT}},
        {"WSAIoctl", {0, WSAEOPNOTSUPP}},  // the receive function found
        {"bind", {WSAEADDRINUSE}},
        {"WSAEventSelect", {WSAENETDOWN}},
        {"CreateEventW", {ERROR_ACCESS_DENIED}},
    };
    for (const auto& [call, errors] : steps) {
        testing::ScriptedWinsockCalls own;
        UdpEndpoint failing(win32EndpointParts(own));
        own.fail(call, errors);
        try {
            failing.setProtocol(protocol::kProtocolUdp);
            ADD_FAILURE() << "set up despite a failing " << call;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), errors.back()) << call;
        }
        EXPECT_EQ(own.held(), 0) << "left open after a failing " << call;
        EXPECT_THROW(failing.SocketHandle(), Failure) << call;
        failing.setProtocol(protocol::kProtocolUdp);
        EXPECT_EQ(own.held(), 3) << call;
    }
}

TEST_F(WinsockEndpointTest, sendOrReceiveThroughTheSeam_aFullBufferWaitedForOnce_reportsOfEarlierSendsSkipped) {
    calls.fail("sendto", {WSAEWOULDBLOCK});
    const std::uint16_t port = probeDevice();
    EXPECT_EQ(calls.made("WSAPoll"), 1);
    calls.fail("sendto", {WSAEWOULDBLOCK, WSAEWOULDBLOCK});
    try {
        endpoint.SendData(protocol::kProbe);
        ADD_FAILURE() << "sent, by a retry past a second full buffer";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), WSAEWOULDBLOCK);
    }
    EXPECT_EQ(calls.made("WSAPoll"), 2);
    calls.fail("WSARecvMsg", {WSAECONNRESET, WSAENETRESET, WSAEHOSTUNREACH, WSAENETUNREACH});
    device.sendTo(port, "direct");
    ASSERT_TRUE(pumpUntil([&] { return !arrivals.empty() || !failures.empty(); }));
    EXPECT_EQ(failures, std::vector<int>{});
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].payload, "direct");
}

}  // namespace
}  // namespace zorvik::win32
