// The datagram endpoint on real sockets, inside scripts/lan's namespace.
#include "udp_endpoint.hpp"

#include <gtest/gtest.h>

#include "event_dispatch.hpp"
#include "event_loop.hpp"
#include "protocol.hpp"
#include "receive_buffer_option.hpp"
#include "scripted_calls.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::runFor;
using testing::runUntil;
using testing::UdpPeer;

class UdpEndpointTest : public ::testing::Test {
protected:
    testing::ScriptedCalls calls;
    UdpEndpoint endpoint{calls};
    UdpPeer device;
    struct Arrival {
        std::int32_t size;
        std::string payload, sender;
    };
    std::vector<Arrival> arrivals;
    std::size_t listedAtSliceEnd = 0;
    bool readOnArrival = true;
    unsigned long handlerMicroseconds = 0;  // 20: as slow as appending to a real text box

    void SetUp() override {
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As at start-up: without it the kernel holds only a few hundred datagrams.
        ASSERT_TRUE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
        endpoint.onDataArrival([this](std::int32_t size) {
            arrivals.push_back({size, {}, endpoint.RemoteHostIP()});
            if (readOnArrival) endpoint.GetData(arrivals.back().payload, DataType::Text, size);
            QThread::usleep(handlerMicroseconds);
        });
        endpoint.onSliceEnd([this] { listedAtSliceEnd = arrivals.size(); });
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
};

TEST_F(UdpEndpointTest, send_probeDespiteEintrOrEagain_leavesOnceFromOnePort_andBadDestinationsOrErrorsFail) {
    EXPECT_EQ(endpoint.localPort(), 0) << "the endpoint must not bind before its first send";
    EXPECT_THROW(endpoint.SendData(protocol::kProbe), Failure) << "no destination was ever set";
    calls.failures["sendto"] = {EINTR, EAGAIN};
    const auto port = probeDevice();
    EXPECT_EQ(calls.polls, 1) << "a full buffer is waited for, not spun on";
    EXPECT_FALSE(device.receive(100)) << "the probe went out twice";
    EXPECT_EQ(port, endpoint.localPort());
    EXPECT_EQ(probeDevice(), port) << "answers to the earlier probe would be lost";
    for (const std::string_view host : std::initializer_list<std::string_view>{
             "localhost", "224.1.2", "224.1.2.3.4", "224.1.2.300", "", " 224.1.2.3", {"224.1.2.3\0x", 11}})
        EXPECT_THROW(endpoint.setRemoteHost(host), Failure) << host;
    for (const std::int32_t bad : {0, -1, 65536}) EXPECT_THROW(endpoint.setRemotePort(bad), Failure) << bad;
    calls.failures["sendto"] = {ENETUNREACH};  // its number and text: see window_test
    EXPECT_THROW(probeDevice(), Failure);
    EXPECT_FALSE(device.receive(100));
    for (const char* call : {"socket", "setsockopt"}) {  // the socket, or turning group traffic off
        calls.failures[call] = {EMFILE};
        EXPECT_THROW(UdpEndpoint(calls).setProtocol(protocol::kProtocolUdp), Failure) << call;
    }
    calls.failures["setsockopt"] = {EPERM};  // the start-up option: the program goes on without it
    EXPECT_FALSE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
}

TEST_F(UdpEndpointTest, arrivals_ofEverySizeAndHost_thenABurst_oneEventEachInOrder_butNoGroupTraffic_untilStop) {
    const auto port = probeDevice();
    calls.failures["recvmmsg"] = {EINTR, ECONNREFUSED};  // retried, and an ICMP report skipped
    const UdpPeer second("127.0.0.2"), member(protocol::kGroup.data());  // joins the group on lo
    device.sendTo(port, "to the group", protocol::kGroup.data());
    const std::vector<std::pair<const UdpPeer*, std::string>> sent = {
        {&device, ""}, {&second, "x"}, {&device, std::string("\0Z\0", 3)},
        {&second, std::string(65507, '\0')}, {&device, std::string(1000, '\xff')}};
    for (const auto& [peer, payload] : sent) peer->sendTo(port, payload);
    ASSERT_TRUE(runUntil([&] { return arrivals.size() >= sent.size(); }));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(arrivals[i].size, static_cast<std::int32_t>(sent[i].second.size())) << "datagram " << i;
        EXPECT_TRUE(arrivals[i].payload == sent[i].second) << "datagram " << i;
        EXPECT_EQ(arrivals[i].sender, sent[i].first == &device ? "127.0.0.1" : "127.0.0.2") << i;
    }
    arrivals.clear();
    constexpr std::size_t kBurst = 3000;
    std::size_t listedAtATurn = 0;  // by the event loop's turn amid the burst
    handlerMicroseconds = 20;
    for (std::size_t i = 0; i < kBurst; ++i) device.sendTo(port, std::to_string(i));
    ASSERT_TRUE(runUntil([&] {
        if (arrivals.size() < kBurst) listedAtATurn = std::max(listedAtATurn, arrivals.size());
        return arrivals.size() >= kBurst;
    })) << arrivals.size() << " of " << kBurst;
    for (std::size_t i = 0; i < kBurst; ++i) ASSERT_EQ(arrivals[i].payload, std::to_string(i));
    EXPECT_GT(listedAtATurn, 0u) << "the whole burst ran without the event loop getting a turn";
    EXPECT_EQ(listedAtSliceEnd, kBurst) << "the last slice did not end";
    device.sendTo(port, "late");
    endpoint.stop();  // as the program ends: nothing more is reported
    listedAtSliceEnd = 0;
    runFor(100ms);
    EXPECT_EQ(arrivals.size(), kBurst);
    EXPECT_EQ(listedAtSliceEnd, 0u) << "a slice ended after stop";
}

TEST_F(UdpEndpointTest, largeDatagrams_onceRead_giveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine; run without it";
#endif
    const auto port = probeDevice();
    readOnArrival = false;  // held by the endpoint until read below
    runFor(50ms);
    const long before = testing::residentKiB();
    for (std::size_t sent = 10; sent <= 1000; sent += 10) {  // within the endpoint's bounds
        for (int i = 0; i < 10; ++i) device.sendTo(port, std::string(60000, 'z'));
        ASSERT_TRUE(runUntil([&] { return arrivals.size() >= sent; }));
    }
    EXPECT_GT(testing::residentKiB() - before, 32 << 10) << "the payloads were not held";
    for (std::string data; !arrivals.empty(); arrivals.pop_back()) endpoint.GetData(data, DataType::Text, 65536);
    EXPECT_LT(testing::residentKiB() - before, 16 << 10);
}

// A failure taking datagrams in, while more keep coming: reported once, through
// the program's dispatch, and nothing taken in while it is shown or after.
TEST_F(UdpEndpointTest, failure_whileReceiving_isReportedOnce_andEndsAllIntake) {
    std::vector<int> reported;
    std::optional<int> status;
    EventDispatch dispatch([&] { endpoint.stop(); }, [&](const Failure& failure) {
        reported.push_back(failure.number());
        const int receives = calls.receives;
        runFor(200ms);  // as a message box's event loop would
        EXPECT_EQ(calls.receives, receives);
    }, [&](int code) { status = code; });
    endpoint.runThrough([&](const std::function<void()>& callback) { dispatch.deliver(callback); });
    calls.onReceive = [] { throw std::bad_alloc(); };
    testing::Stream stream(probeDevice());
    ASSERT_TRUE(runUntil([&] { return status.has_value(); }));
    const int receives = calls.receives;
    runFor(100ms);
    EXPECT_EQ(calls.receives, receives);
    EXPECT_EQ(reported, std::vector<int>{ENOMEM});
    EXPECT_EQ(status, EventDispatch::kFailureStatus);
}

}  // namespace
}  // namespace zorvik
