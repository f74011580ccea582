// The command-line programs as built, zorvik-device-sim and zorvik-discover,
// inside scripts/lan's private network namespace: they send to the group.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "console_controls.hpp"
#include "process.hpp"
#include "protocol.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::bin;
using testing::inBin;
using testing::Process;
using testing::startDevices;
using Answers = std::vector<std::pair<std::string, std::string>>;  // sender, payload
using Clock = std::chrono::steady_clock;

class ProgramTest : public ::testing::Test {
protected:
    testing::UdpPeer prober;  // constructed first: it makes sure this runs inside scripts/lan
    void probe(std::string_view bytes = protocol::kProbe) {
        prober.sendTo(protocol::kPort, bytes, protocol::kGroup.data());
    }
    // The answers, sorted, once `count` have come or `waitMs` passed without the next.
    Answers receive(std::size_t count, int waitMs = 5000) {
        Answers answers;
        for (auto answer = prober.receive(waitMs); answer; answer = prober.receive(waitMs)) {
            answers.emplace_back(answer->from, answer->payload);
            if (answers.size() == count) break;
        }
        std::sort(answers.begin(), answers.end());
        return answers;
    }
};
using DeviceSimTest = ProgramTest;
using DiscoverTest = ProgramTest;

// ---- The simulator ----

TEST_F(DeviceSimTest, probes_answeredFromEachHostAsAsked_othersIgnored_unreachableProberSkipped) {
    const auto defaults = startDevices({"--probes", "2"});
    for (const std::string_view other :
         std::initializer_list<std::string_view>{{"ZV\0", 3}, {"ZV\0\x01!", 5}, {"ZV\0\x02", 4}, {}})
        probe(other);
    // A probe from an address no host here has a route to.
    const int far = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
    const sockaddr_in from{AF_INET, 0, {htonl(0x0a090902)}, {}}, to{AF_INET, htons(protocol::kPort), {htonl(0x7f000001)}, {}};
    ASSERT_EQ(::setsockopt(far, SOL_IP, IP_TRANSPARENT, &on, sizeof on), 0);
    ASSERT_EQ(::bind(far, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(::sendto(far, protocol::kProbe.data(), 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    ::close(far);
    const auto twice =  // after the unicast probe, which only one listener on the port gets
        startDevices({"--hosts", "2", "--first-address", "127.0.0.5", "--payload", "", "--answers", "2"});
    probe();
    EXPECT_EQ(receive(6), (Answers{{"127.0.0.2", "ZV"}, {"127.0.0.5", ""}, {"127.0.0.5", ""},
                                   {"127.0.0.6", ""}, {"127.0.0.6", ""}}));
    EXPECT_EQ(defaults->finish(5000), 0) << defaults->err;  // --probes 2: the far one and ours
    twice->terminate();  // as scripts/lan stops its devices
    EXPECT_EQ(twice->finish(), 0);
}

TEST_F(DeviceSimTest, probe_burst_allAnswersArriveRotatingOverHosts) {
    // As many as the receive buffer surely holds (a small datagram takes under
    // 2 KiB of it), so none may be lost even if this test is slow to read.
    int buffer = 0;
    socklen_t length = sizeof buffer;
    ASSERT_EQ(::getsockopt(prober.fd, SOL_SOCKET, SO_RCVBUF, &buffer, &length), 0);
    const int perHost = std::clamp(buffer / 2048 / 4, 25, 5000);
    const auto sim = startDevices({"--hosts", "4", "--burst", QString::number(4 * perHost)});
    probe();
    std::map<std::string, int> counts;
    for (const auto& answer : receive(4 * static_cast<std::size_t>(perHost))) ++counts[answer.first];
    EXPECT_EQ(counts, (std::map<std::string, int>{{"127.0.0.2", perHost}, {"127.0.0.3", perHost},
                                                  {"127.0.0.4", perHost}, {"127.0.0.5", perHost}}));
}

TEST_F(DeviceSimTest, badOption_exitsTwoWithUsage) {
    for (const QStringList& args : std::vector<QStringList>{
             {"--bogus"}, {"extra"}, {"--hosts"}, {"--hosts", "1001"}, {"--answers", "x"}, {"--delay", "-1"},
             {"--burst", "5", "--answers", "2"}, {"--first-address", "127.0.0"}, {"--interface", "nosuch0"},
             {"--first-address", "255.255.255.255"}, {"--first-address", "224.1.2.3"},
             {"--first-address", "0.0.0.0"}, {"--hosts", "2", "--first-address", "223.255.255.255"}}) {
        Process sim(bin("zorvik-device-sim"), args);
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(sim.finish(5000), 2) << what;
        EXPECT_NE(sim.err.find("usage: zorvik-device-sim"), std::string::npos) << what;
        EXPECT_EQ(sim.out, "") << what;
    }
}

TEST_F(DeviceSimTest, namespace_privateByItsInterfacesAlone_elseNoOtherInterfaceOrAddress) {
    struct Case { const char* setup; const char* args; int status; const char* said; };
    for (const auto& [setup, args, status, said] : {
             Case{"ip link add br0 type bridge && ip link set br0 up", "--interface br0", 0, "ready on br0"},
             Case{"ip addr add 10.9.9.1/32 dev lo", "--first-address 10.9.9.1", 0, "ready on lo"},
             Case{"ip tuntap add tap0 mode tap && ip addr add 10.9.9.1/24 dev tap0", "--first-address 10.9.9.1", 2, "refusing"}}) {
        // In a LAN of its own, where PID 1 shares the network namespace.
        Process lan(testing::lan(), QStringList{"--devices", "0", "--", "bash"} +
            inBin(QString("%1 && exec 3< <(exec ./zorvik-device-sim %2) && read -r l <&3; echo \"$l\"; kill $!; wait $!").arg(setup, args)));
        EXPECT_EQ(lan.finish(), status) << setup << lan.err;
        EXPECT_NE((lan.out + lan.err).find(said), std::string::npos) << setup << lan.out << lan.err;
    }
}

// ---- The twin ----

TEST_F(DiscoverTest, devices_everyAnswerListedOnce_evenTwiceFromOneHostOrEmpty_exitsZero) {
    const auto three = startDevices({"--hosts", "3"});
    const auto twice = startDevices({"--first-address", "127.0.0.7", "--answers", "2", "--payload", ""});
    Process twin(bin("zorvik-discover"));
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    QStringList listed = QString::fromStdString(twin.out).split('\n', Qt::SkipEmptyParts);
    listed.sort();
    EXPECT_EQ(listed.join('\n').toStdString(),
              "Zorvy found at address: 127.0.0.2\nZorvy found at address: 127.0.0.3\n"
              "Zorvy found at address: 127.0.0.4\nZorvy found at address: 127.0.0.7\n"
              "Zorvy found at address: 127.0.0.7");
    EXPECT_EQ(twin.err, "");
}

TEST_F(DiscoverTest, burstOfThousands_everyAnswerListed_butNoOtherDatagramToTheGroup) {
    const auto devices = startDevices({"--hosts", "50", "--burst", "5000"});
    Process twin(bin("zorvik-discover"));
    // Another host probes too: the devices answer it, not the twin, and neither
    // its probe nor a stray datagram to the group reaches the twin's port.
    probe();
    probe("stray");
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    EXPECT_EQ(std::count(twin.out.begin(), twin.out.end(), '\n'), 5000);
}

TEST_F(DiscoverTest, steadyStreamReadSlowly_endsSoonAfterItsPeriod_probeCameFromLoopback) {
    testing::UdpPeer device(protocol::kGroup.data(), protocol::kPort);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const auto start = Clock::now();
    Process twin(bin("zorvik-discover"), {}, QString("/proc/self/fd/%1").arg(out[1]));
    ::close(out[1]);
    const auto seen = device.receive(5000);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->from, "127.0.0.1");
    // 30,000 answers a second for up to 25 s, while the output is read at ~20,000 lines a second.
    std::atomic<bool> done = false;
    std::thread stream([&, port = seen->fromPort] {
        for (auto next = Clock::now(); !done && next < start + std::chrono::seconds(25); std::this_thread::sleep_until(next)) {
            for (int i = 0; i < 300; ++i) device.sendTo(port, "ZV");
            next += std::chrono::milliseconds(10);
        }
    });
    std::string chunk(7000, '\0');
    for (auto next = Clock::now(); ::read(out[0], chunk.data(), chunk.size()) > 0; std::this_thread::sleep_until(next))
        next += std::chrono::milliseconds(10);
    const auto ran = Clock::now() - start;
    done = true;
    stream.join();
    ::close(out[0]);
    EXPECT_EQ(twin.finish(), 0) << twin.err;
    EXPECT_LT(ran, std::chrono::seconds(9));
}

TEST(ProgramsTest, arguments_closedOrFailedOutput_statusAndMessage) {
    struct Case { const char* script; int status; const char* out; const char* err; };
    const char* usage = "Usage: zorvik-discover";
    const char* closed = "error 9: standard output is closed\n";
    for (const auto& [script, status, out, err] : {
             Case{"./zorvik-discover --version", 0, "Zorvik Discovery) 1.00", ""}, {"./zorvik-discover -h", 0, usage, ""},
             {"./zorvik-discover --bogus", 2, "", usage}, {"./zorvik-discover --help x", 2, "", usage},
             {"./zorvik-discover --version --help", 2, "", usage}, {"./zorvik-discover", 1, "", ""},
             {"unshare --net ./zorvik-discover", 2, "", "error 101: Network is unreachable\n"},
             {"./zorvik-discover >&-", 2, "", closed}, {"./zorvik-discover <&- >&-", 2, "", closed},
             {"./zorvik-discover --version >&-", 2, "", closed},
             {"./zorvik-discover --help >/dev/full", 2, "", "error 28: No space left on device\n"},
             {"./zorvik-device-sim --help >/dev/full", 1, "", "output: No space left on device\n"},
             {"./zorvik-device-sim --first-address 127.0.0.9 >/dev/full", 1, "", "output: No space left"},
             {"./zorvik-device-sim >&-", 1, "", "standard output is closed\n"}}) {
        Process run("bash", inBin(script));
        EXPECT_EQ(run.finish(), status) << script;
        for (const auto& [got, want] : {std::pair{run.out, out}, {run.err, err}})
            EXPECT_TRUE(*want ? got.find(want) != std::string::npos : got.empty()) << script << ": " << got;
    }
}

TEST(ConsoleResultsTest, linesAppendedToAFullNonBlockingPipe_eachWrittenOnceWithNewline_noneKept) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
    const int capacity = ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    std::string written, expected;
    std::thread reader([&] {  // only once the pipe is full, so the writer must wait
        int queued = 0;
        for (const auto end = Clock::now() + std::chrono::seconds(10); queued + 64 < capacity && Clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            ::ioctl(pipe[0], FIONREAD, &queued);
        std::string chunk(4096, '\0');
        for (pollfd in{pipe[0], POLLIN, 0}; ::poll(&in, 1, 10000) > 0;) {
            const ssize_t got = ::read(pipe[0], chunk.data(), chunk.size());
            if (got <= 0) break;
            written.append(chunk, 0, static_cast<std::size_t>(got));
        }
    });
    ConsoleResults results(pipe[1]);
    results.setText(ResultsText());
    for (int i = 0; i < 5000; ++i) {
        const std::string line = std::string(protocol::kResultPrefix) + "127.0.0." + std::to_string(i % 250);
        results.setText(results.text() + line + protocol::kLineEnd);
        expected += line + '\n';
    }
    EXPECT_TRUE(results.text().empty());
    EXPECT_EQ(results.linesWritten(), 5000u);
    ::close(pipe[1]);
    reader.join();
    ::close(pipe[0]);
    EXPECT_EQ(written, expected);
}

TEST(LanTest, stopSignalToItsPid_endsCommandAndDevicesPromptly) {
    Process lan(testing::lan(), {"--", "bash", "-c", "trap 'echo stopped; exit 3' TERM; echo started; sleep 600 & wait"});
    ASSERT_TRUE(lan.waitForReadyRead(20000)) << lan.readAllStandardError().toStdString();
    lan.terminate();
    EXPECT_EQ(lan.finish(5000), 143);
    EXPECT_EQ(lan.out, "started\nstopped\n");
}

}  // namespace
}  // namespace zorvik
