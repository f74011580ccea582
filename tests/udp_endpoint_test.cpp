// The datagram endpoint on real sockets, inside scripts/lan's namespace.
#include "udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

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
    std::size_t arrivalsAtSliceEnd = 0;
    int sliceEnds = 0;
    bool readOnArrival = true;
    int handlerMicroseconds = 0;  // 20: as slow as appending to a real text box

    void SetUp() override {
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As at start-up: without it the kernel holds only a few hundred datagrams.
        ASSERT_TRUE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
        endpoint.onDataArrival([this](std::int32_t size) {
            arrivals.push_back({size, {}, endpoint.RemoteHostIP()});
            if (readOnArrival) endpoint.GetData(arrivals.back().payload, DataType::Text, size);
            QThread::usleep(static_cast<unsigned long>(handlerMicroseconds));
        });
        endpoint.onSliceEnd([this] { ++sliceEnds, arrivalsAtSliceEnd = arrivals.size(); });
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

// Sends small datagrams from its own thread as fast as it can, until it goes.
struct Stream {
    explicit Stream(std::uint16_t port)
        : thread([this, port](std::stop_token stop) {
              const UdpPeer sender("127.0.0.3");
              for (const auto end = std::chrono::steady_clock::now() + 20s;
                   !stop.stop_requested() && std::chrono::steady_clock::now() < end; ++sent)
                  sender.sendTo(port, "ZV");
          }) {}
    std::atomic<long> sent = 0;
    std::jthread thread;
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
    for (const char* call : {"socket", "setsockopt"}) {  // the socket, or its group traffic turned off
        calls.failures[call] = {EMFILE};
        EXPECT_THROW(UdpEndpoint(calls).setProtocol(protocol::kProtocolUdp), Failure) << call;
    }
}

// ---- Receiving ----

TEST_F(UdpEndpointTest, arrivals_ofEverySizeFromEveryHost_reportSizeContentAndSender_butNoGroupTraffic_untilStop) {
    const auto port = probeDevice();
    calls.failures["recvmmsg"] = {EINTR, ECONNREFUSED};  // retried, and an ICMP report skipped
    const UdpPeer second("127.0.0.2"), member(protocol::kGroup.data());  // joins the group on lo
    device.sendTo(port, "to the group", protocol::kGroup.data());
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
    const int ends = sliceEnds;
    runFor(100ms);
    EXPECT_EQ(arrivals.size(), sent.size());
    EXPECT_EQ(sliceEnds, ends);
}

TEST_F(UdpEndpointTest, burst_ofThousands_oneEventEachInOrder_givingTheEventLoopTurns) {
    const auto port = probeDevice();
    constexpr std::size_t kCount = 3000;
    std::size_t listedAtATurn = 0;  // by the event loop's turn amid the burst
    handlerMicroseconds = 20;
    for (std::size_t i = 0; i < kCount; ++i) device.sendTo(port, std::to_string(i));
    ASSERT_TRUE(testing::runUntil([&] {
        if (arrivals.size() < kCount) listedAtATurn = std::max(listedAtATurn, arrivals.size());
        return arrivals.size() >= kCount;
    })) << arrivals.size() << " of " << kCount;
    runFor(50ms);
    ASSERT_EQ(arrivals.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i) ASSERT_EQ(arrivals[i].payload, std::to_string(i));
    EXPECT_GT(listedAtATurn, 0u) << "the whole burst ran without the event loop getting a turn";
    EXPECT_EQ(arrivalsAtSliceEnd, kCount) << "the last slice did not end";
}

TEST_F(UdpEndpointTest, deliverPending_underASteadyStream_listsWhatWasThere_returns_andTakesNothingMore) {
    Stream stream(probeDevice());
    handlerMicroseconds = 20;  // slower than the stream, as the twin's printing is
    ASSERT_TRUE(testing::runUntil([&] { return arrivals.size() > 100; }));
    const long sentBefore = stream.sent;
    endpoint.deliverPending();
    int granted = 0;
    socklen_t length = sizeof granted;
    ::getsockopt(endpoint.SocketHandle(), SOL_SOCKET, SO_RCVBUF, &granted, &length);
    // A queued datagram costs the kernel well over 256 bytes.
    EXPECT_LE(static_cast<long>(arrivals.size()), sentBefore + granted / 256);
    EXPECT_GT(stream.sent, sentBefore) << "it returned only when the stream ended";
    EXPECT_EQ(arrivalsAtSliceEnd, arrivals.size());
    const auto listed = arrivals.size();
    const int receives = calls.receives;
    runFor(100ms);
    EXPECT_EQ(arrivals.size(), listed);
    EXPECT_EQ(calls.receives, receives);
}

TEST_F(UdpEndpointTest, largeDatagrams_onceRead_giveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine; run without it";
#endif
    const auto port = probeDevice();
    readOnArrival = false;  // held by the endpoint until read below
    runFor(50ms);
    const long before = testing::residentKiB();
    for (std::size_t sent = 10; sent <= 1000; sent += 10) {  // within the queue's bounds
        for (int i = 0; i < 10; ++i) device.sendTo(port, std::string(60000, 'z'));
        ASSERT_TRUE(waitForArrivals(sent));
    }
    EXPECT_GT(testing::residentKiB() - before, 50 << 10) << "the payloads were not held";
    for (std::string data; !arrivals.empty(); arrivals.pop_back()) endpoint.GetData(data, DataType::Text, 65536);
    EXPECT_LT(testing::residentKiB() - before, 16 << 10);
}

// A failure from the event loop's paths into the endpoint, while datagrams keep
// coming: reported once, and nothing is taken in while it is shown or after.
TEST_F(UdpEndpointTest, failure_whileReceivingOrInAHandler_isReported_andEndsAllIntake) {
    for (const bool inHandler : {false, true}) {
        SCOPED_TRACE(inHandler ? "in a handler" : "while receiving");
        UdpEndpoint receiver(calls);
        std::vector<int> reported;
        std::optional<int> status;
        EventDispatch dispatch([&] { receiver.stop(); }, [&](const Failure& failure) {
            reported.push_back(failure.number());
            const int receives = calls.receives;
            runFor(200ms);  // as a message box's event loop would
            EXPECT_EQ(calls.receives, receives);
        }, [&](int code) { status = code; });
        receiver.runThrough([&](const std::function<void()>& callback) { dispatch.deliver(callback); });
        receiver.onDataArrival([&](std::int32_t) { dispatch.deliver([] { throw Failure(EIO, "handler"); }); });
        calls.onReceive = [&] { if (!inHandler) throw std::bad_alloc(); };
        receiver.setProtocol(protocol::kProtocolUdp);
        receiver.setRemoteHost("127.0.0.1");
        receiver.setRemotePort(device.port());
        receiver.SendData(protocol::kProbe);
        Stream stream(device.receive()->fromPort);
        ASSERT_TRUE(testing::runUntil([&] { return status.has_value(); }));
        const int receives = calls.receives;
        runFor(100ms);
        EXPECT_EQ(calls.receives, receives);
        EXPECT_EQ(reported, std::vector<int>{inHandler ? EIO : ENOMEM});
        EXPECT_EQ(status, EventDispatch::kFailureStatus);
        calls.onReceive = [] {};
    }
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
