// The POSIX datagram endpoint and its receive thread on real sockets, inside
// scripts/lan's namespace, with the UI thread's event loop played by the test.
#include "udp_endpoint.hpp"

#include <gtest/gtest.h>

#include <linux/sock_diag.h>
#include <net/if.h>

#include <fstream>
#include <future>

#include "endpoint_fakes.hpp"
#include "event_dispatch.hpp"
#include "protocol.hpp"
#include "receive_buffer_option.hpp"
#include "scripted_calls.hpp"
#include "udp_peer.hpp"
#include "udp_socket.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::UdpPeer;

// The POSIX endpoint on `calls`, with a waker whose wake-ups are counted, and
// answered by run(), as an event loop would.
struct TestEndpoint {
    explicit TestEndpoint(SystemCalls& calls)
        : waker(new testing::TestWaker),
          endpoint({std::make_unique<UdpSocket>(calls), std::unique_ptr<UiWaker>(waker), giveMemoryBack}) {}
    // Answers wake-ups until `done` holds or the deadline passes.
    bool run(const std::function<bool()>& done, std::chrono::milliseconds deadline = 5s) { return waker->run(done, deadline); }
    testing::TestWaker* waker;
    UdpEndpoint endpoint;
};

// What the socket's receive queue holds now, in bytes, and the most it may hold.
std::pair<std::uint32_t, std::uint32_t> receiveQueue(int fd) {
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    ::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &length);
    return {memory[SK_MEMINFO_RMEM_ALLOC], memory[SK_MEMINFO_RCVBUF]};
}

long residentKiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class UdpEndpointTest : public ::testing::Test {
protected:
    testing::ScriptedCalls calls;
    TestEndpoint test{calls};
    UdpEndpoint& endpoint = test.endpoint;
    UdpPeer device;
    struct Arrival {
        std::int32_t size;
        std::string payload, sender;
        std::uint32_t by = 0;  // the interface's index
    };
    std::vector<Arrival> arrivals;
    std::size_t listedAtSliceEnd = 0;
    bool readOnArrival = true;
    std::function<void()> busyOnFirst;         // the first arrival's handler keeps the UI thread busy with it
    std::pair<int, int> wakesWhenBusy;          // the wake-ups counted as it began and as it ended

    void SetUp() override {
        endpoint.setProtocol(protocol::kProtocolUdp);
        // As a stock kernel grants (425,984 bytes, a few hundred datagrams): never a host setting.
        const int stock = 212992;
        ASSERT_EQ(calls.setsockopt(endpoint.SocketHandle(), SOL_SOCKET, SO_RCVBUF, &stock, sizeof stock), 0);
        endpoint.onDataArrival([this](const ReceivedDatagram& arrived) {
            const auto size = static_cast<std::int32_t>(arrived.payload.size());
            arrivals.push_back({size, {}, endpoint.RemoteHostIP(), arrived.interfaceIndex});
            if (readOnArrival) endpoint.GetData(arrivals.back().payload, DataType::Text, size);
            if (arrivals.size() > 1) return;
            wakesWhenBusy.first = test.waker->wakes;
            if (busyOnFirst) busyOnFirst();
            wakesWhenBusy.second = test.waker->wakes;
        });
        endpoint.onSliceEnd([this] { listedAtSliceEnd = arrivals.size(); });
    }
    // Sends the probe to the test's device, which learns the endpoint's port from it.
    std::uint16_t probeDevice() { return probeDeviceFrom(endpoint); }
    std::uint16_t probeDeviceFrom(UdpEndpoint& from) {
        from.setRemoteHost("127.0.0.1");
        from.setRemotePort(device.port());
        from.SendData(protocol::kProbe);
        const auto probe = device.receive();
        EXPECT_EQ(probe ? probe->payload : "none", std::string("\x5A\x56\x00\x01", 4));
        return probe ? probe->fromPort : 0;
    }
};

TEST_F(UdpEndpointTest, send_probeDespiteEintrOrEagain_leavesOnceFromOnePort_andBadDestinationsOrErrorsFail) {
    EXPECT_EQ(endpoint.localPort(), 0) << "the endpoint must not bind before its first send";
    EXPECT_THROW(endpoint.SendData(protocol::kProbe), Failure) << "no destination was ever set";
    calls.fail("sendto", {EINTR, EAGAIN});
    const auto port = probeDevice();
    EXPECT_EQ(calls.sendWaits, 1) << "a full buffer is waited for, not spun on";
    EXPECT_FALSE(device.receive(100)) << "the probe went out twice";
    EXPECT_EQ(port, endpoint.localPort());
    EXPECT_EQ(probeDevice(), port) << "answers to the earlier probe would be lost";
    const auto groupTtl = [&] {
        int ttl = 0;
        socklen_t length = sizeof ttl;
        ::getsockopt(endpoint.SocketHandle(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &length);
        return ttl;
    };
    EXPECT_EQ(groupTtl(), 1);
    endpoint.setGroupTtl(2);  // --ttl: set on the socket before the probe leaves
    EXPECT_EQ(probeDevice(), port);
    EXPECT_EQ(groupTtl(), 2);
    endpoint.setGroupTtl(1);
    EXPECT_EQ(probeDevice(), port);
    EXPECT_EQ(groupTtl(), 1) << "back to the default";
    endpoint.setGroupTtl(2);
    for (const std::int32_t bad : {0, 256}) EXPECT_THROW(endpoint.setGroupTtl(bad), Failure) << bad;
    calls.fail("setsockopt", {ENOBUFS});
    EXPECT_THROW(endpoint.SendData(protocol::kProbe), Failure) << "a TTL the system refused";
    EXPECT_FALSE(device.receive(100));
    EXPECT_EQ(probeDevice(), port);
    EXPECT_EQ(groupTtl(), 2) << "a refused TTL is asked for again";
    for (const std::string_view host : std::initializer_list<std::string_view>{
             "localhost", "224.1.2", "224.1.2.3.4", "224.1.2.300", "", " 224.1.2.3", {"224.1.2.3\0x", 11}})
        EXPECT_THROW(endpoint.setRemoteHost(host), Failure) << host;
    for (const std::int32_t bad : {0, -1, 65536}) EXPECT_THROW(endpoint.setRemotePort(bad), Failure) << bad;
    calls.fail("sendto", {ENETUNREACH});  // its number and text: see window_test
    EXPECT_THROW(probeDevice(), Failure);
    EXPECT_FALSE(device.receive(100));
    for (const char* call : {"socket", "setsockopt"}) {  // the socket, or turning group traffic off
        calls.fail(call, {EMFILE});
        EXPECT_THROW(TestEndpoint(calls).endpoint.setProtocol(protocol::kProtocolUdp), Failure) << call;
    }
    calls.fail("setsockopt", {EPERM});  // the start-up option: the program goes on without it
    EXPECT_FALSE(ReceiveBufferOption(calls).apply(endpoint.SocketHandle()));
}

// While the UI thread is busy, a burst many times what the stock buffer holds
// arrives: the receive thread keeps it, and wakes nobody meanwhile. The sender
// waits while the socket's queue is half full, so however seldom a loaded
// machine runs the receive thread, the system drops nothing.
TEST_F(UdpEndpointTest, arrivals_ofEverySizeAndHost_thenABurstWhileBusy_oneEventEachInOrder_butNoGroupTraffic_untilStop) {
    const auto port = probeDevice();
    calls.fail("recvmmsg", {EINTR, ECONNREFUSED});  // retried, and an ICMP report skipped
    const UdpPeer second("127.0.0.2"), member(protocol::kGroup.data());  // joins the group on lo
    device.sendTo(port, "to the group", protocol::kGroup.data());
    const std::vector<std::pair<const UdpPeer*, std::string>> sent = {
        {&device, ""}, {&second, "x"}, {&device, std::string("\0Z\0", 3)},
        {&second, std::string(65507, '\0')}, {&device, std::string(1000, '\xff')}};
    for (const auto& [peer, payload] : sent) peer->sendTo(port, payload);
    ASSERT_TRUE(test.run([&] { return arrivals.size() >= sent.size(); }));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(arrivals[i].size, static_cast<std::int32_t>(sent[i].second.size())) << "datagram " << i;
        EXPECT_TRUE(arrivals[i].payload == sent[i].second) << "datagram " << i;
        EXPECT_EQ(arrivals[i].sender, sent[i].first == &device ? "127.0.0.1" : "127.0.0.2") << i;
        EXPECT_EQ(arrivals[i].by, if_nametoindex("lo")) << i;
    }
    ASSERT_TRUE(test.run([&] { return listedAtSliceEnd == sent.size(); }));
    calls.withoutControl = true;
    device.sendTo(port, "by an interface not known");
    ASSERT_TRUE(test.run([&] { return arrivals.size() > sent.size(); }));
    EXPECT_EQ(arrivals.back().by, 0u);
    calls.withoutControl = false;
    arrivals.clear();
    constexpr std::size_t kBurst = 2000;
    ASSERT_GT(receiveQueue(endpoint.SocketHandle()).second, 0u);
    std::atomic<std::size_t> burstSent = 0;
    std::atomic<bool> busy = false;
    std::size_t sentWhileBusy = 0;
    const auto await = [](const std::function<bool()>& done) {
        for (const auto end = Clock::now() + 20s; !done() && Clock::now() < end;) std::this_thread::sleep_for(1ms);
    };
    busyOnFirst = [&] {  // until the rest of the burst is out, or that could not be
        busy = true;
        await([&] { return burstSent == kBurst; });
        sentWhileBusy = burstSent;
    };
    std::jthread sender([&] {
        for (; burstSent < kBurst; ++burstSent) {
            if (burstSent == 1) await([&] { return busy.load(); });
            if (burstSent % 50 == 1) {  // spread over 80 ms at least, four times the wake-up interval
                std::this_thread::sleep_for(2ms);
                await([&] { const auto [held, most] = receiveQueue(endpoint.SocketHandle()); return held < most / 2; });
            }
            device.sendTo(port, std::to_string(burstSent));
        }
    });
    ASSERT_TRUE(test.run([&] { return arrivals.size() >= kBurst; }, 30s))
        << arrivals.size() << " of " << kBurst << ", the system dropped " << endpoint.drops().bySystem.value_or(0);
    EXPECT_EQ(sentWhileBusy, kBurst) << "the queue stayed full while the UI thread was busy";
    EXPECT_EQ(wakesWhenBusy.second, wakesWhenBusy.first) << "woken again while still busy with the last wake";
    for (std::size_t i = 0; i < kBurst; ++i) ASSERT_EQ(arrivals[i].payload, std::to_string(i));
    EXPECT_TRUE(test.run([&] { return listedAtSliceEnd == kBurst; })) << "the last slice did not end";
    EXPECT_EQ(endpoint.drops().bySystem, 0u);
    device.sendTo(port, "late");
    endpoint.stop();  // as the program ends: nothing more is reported
    listedAtSliceEnd = 0;
    test.waker->due = true;
    test.run([] { return false; }, 100ms);
    EXPECT_EQ(arrivals.size(), kBurst);
    EXPECT_EQ(listedAtSliceEnd, 0u) << "a slice ended after stop";
}

TEST_F(UdpEndpointTest, largeDatagrams_onceRead_giveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer keeps freed memory of its own; run without it";
#endif
    const auto port = probeDevice();
    readOnArrival = false;  // held by the endpoint until read below
    const long before = residentKiB();
    for (std::size_t sent = 5; sent <= 1000; sent += 5) {  // within the endpoint's bounds and the stock buffer
        for (int i = 0; i < 5; ++i) device.sendTo(port, std::string(60000, 'z'));
        ASSERT_TRUE(test.run([&] { return arrivals.size() >= sent; }));
    }
    EXPECT_GT(residentKiB() - before, 32 << 10) << "the payloads were not held";
    for (std::string data; !arrivals.empty(); arrivals.pop_back()) endpoint.GetData(data, DataType::Text, 65536);
    EXPECT_LT(residentKiB() - before, 16 << 10);
}

// A failure on the receive thread, while more keeps coming: reported once, with
// its own number, through the program's dispatch, and nothing is taken in while
// it is shown or after.
TEST_F(UdpEndpointTest, failure_onTheReceiveThread_isReportedOnceWithItsNumber_andEndsAllIntake) {
    for (const auto& [failing, number] : std::vector<std::pair<std::function<void(testing::ScriptedCalls&)>, int>>{
             {[](testing::ScriptedCalls& c) { c.fail("recvmmsg", {EINTR, EFAULT}); }, EFAULT},
             {[](testing::ScriptedCalls& c) { c.onReceive([] { throw std::bad_alloc(); }); }, ENOMEM}}) {
        testing::ScriptedCalls own;  // not the fixture endpoint's, whose thread may call it too
        TestEndpoint withFailure(own);
        UdpEndpoint& failingEndpoint = withFailure.endpoint;
        failingEndpoint.setProtocol(protocol::kProtocolUdp);
        std::vector<int> reported;
        std::optional<int> status;
        EventDispatch dispatch([&] { failingEndpoint.stop(); }, [&](const Failure& failure) {
            reported.push_back(failure.number());
            const int receives = own.receives;
            withFailure.run([] { return false; }, 200ms);  // as a message box's event loop would
            EXPECT_EQ(own.receives, receives);
        }, [&](int code) { status = code; });
        failingEndpoint.runThrough([&](const std::function<void()>& callback) { dispatch.deliver(callback); });
        failing(own);
        testing::Stream stream(probeDeviceFrom(failingEndpoint));
        ASSERT_TRUE(withFailure.run([&] { return status.has_value(); }));
        const int receives = own.receives;
        withFailure.run([] { return false; }, 100ms);
        EXPECT_EQ(own.receives, receives);
        EXPECT_EQ(reported, std::vector<int>{number});
        EXPECT_EQ(status, EventDispatch::kFailureStatus);
    }
}

// A full send buffer that stays full, or a send that keeps being interrupted:
// a failure with that number after one wait at the most, never a retry for ever
// (the scripted failures run out long before the test could hang).
TEST_F(UdpEndpointTest, send_keepsFailingWithEagainOrEintr_failsWithThatNumber_afterOneWaitAtMost) {
    endpoint.setRemoteHost("127.0.0.1");
    endpoint.setRemotePort(device.port());
    for (const int error : {EAGAIN, EINTR}) {
        calls.fail("sendto", std::deque<int>(1000, error));
        const int waits = calls.sendWaits;
        try {
            endpoint.SendData(protocol::kProbe);
            ADD_FAILURE() << "sent, by a retry past failures with " << error;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), error);
        }
        EXPECT_LE(calls.sendWaits - waits, 1) << error;
        EXPECT_FALSE(device.receive(100)) << error;
        calls.fail("sendto", {});
    }
}

// A receive call or a wait that fails with EINTR every time, as under a shim,
// with a datagram waiting: the receive thread still sees the stop, between
// calls. Should it not, lifting the failure lets it end, and the test with it.
TEST_F(UdpEndpointTest, stop_whileReceiveOrWaitKeepsFailingWithEintr_endsTheThreadAllTheSame) {
    for (const char* call : {"recvmmsg", "poll"}) {
        testing::ScriptedCalls own;
        TestEndpoint withInterrupts(own);
        UdpEndpoint& interrupted = withInterrupts.endpoint;
        interrupted.setProtocol(protocol::kProtocolUdp);
        const auto port = probeDeviceFrom(interrupted);
        own.failEvery(call, EINTR);
        device.sendTo(port, "waiting");
        const int before = own.made(call);
        ASSERT_TRUE(withInterrupts.run([&] { return own.made(call) > before + 20; })) << call << " was not called again";
        auto stopped = std::async(std::launch::async, [&] { interrupted.stop(); });
        const bool inTime = stopped.wait_for(5s) == std::future_status::ready;
        own.failEvery(call, 0);
        stopped.wait();
        EXPECT_TRUE(inTime) << "the receive thread retried " << call << " without looking at the stop";
    }
}

}  // namespace
}  // namespace zorvik
