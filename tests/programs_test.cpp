// The command-line programs as built, zorvik-device-sim and zorvik-discover,
// inside scripts/lan's private network namespace: they send to the group.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "process.hpp"
#include "protocol.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::Process;
using testing::startDevices;
using Answers = std::vector<std::pair<std::string, std::string>>;  // sender, payload

class ProgramTest : public ::testing::Test {
protected:
    testing::UdpPeer prober;  // constructed first: it makes sure this runs inside scripts/lan
    void probe(std::string_view bytes = protocol::kProbe) {
        prober.sendTo(protocol::kPort, bytes, protocol::kGroup.data());
    }
    // The answers, sorted, once `count` have come or `waitMs` passed without the next.
    Answers receive(std::size_t count, int waitMs = 5000) {
        Answers answers;
        while (answers.size() < count) {
            const auto answer = prober.receive(waitMs);
            if (!answer) break;
            answers.emplace_back(answer->from, answer->payload);
        }
        std::sort(answers.begin(), answers.end());
        return answers;
    }
    // A wait for something that must not happen cannot end early; keep it short.
    bool quiet() { return receive(1, 300).empty(); }
};
using DeviceSimTest = ProgramTest;
using DiscoverTest = ProgramTest;

// ---- The simulator ----

TEST_F(DeviceSimTest, probe_answeredFromEachHostWithItsPayload_asOftenAsAsked_untilStopped) {
    const auto defaults = startDevices({});
    const auto twice =
        startDevices({"--hosts", "2", "--first-address", "127.0.0.5", "--payload", "", "--answers", "2"});
    probe();
    EXPECT_EQ(receive(5), (Answers{{"127.0.0.2", "ZV"}, {"127.0.0.5", ""}, {"127.0.0.5", ""},
                                   {"127.0.0.6", ""}, {"127.0.0.6", ""}}));
    EXPECT_TRUE(quiet());
    defaults->terminate();  // as scripts/lan stops its devices
    EXPECT_EQ(defaults->finish(), 0);
}

TEST_F(DeviceSimTest, notAProbe_wrongBytesOrLength_isIgnored_andProbesLimitEndsItWithZero) {
    const auto sim = startDevices({"--probes", "1"});
    for (const std::string_view other :
         std::initializer_list<std::string_view>{{"ZV\0", 3}, {"ZV\0\x01!", 5}, {"ZV\0\x02", 4}, {}})
        probe(other);
    EXPECT_TRUE(quiet());
    probe();  // still listening, so the silence above meant something
    EXPECT_EQ(receive(1).size(), 1u);
    EXPECT_EQ(sim->finish(5000), 0);
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
             {"--bogus"}, {"extra"}, {"--hosts"}, {"--hosts", "0"}, {"--hosts", "1001"}, {"--answers", "x"},
             {"--delay", "-1"}, {"--probes", "1.5"}, {"--burst", "5", "--answers", "2"},
             {"--first-address", "127.0.0"}, {"--interface", "nosuch0"}}) {
        Process sim(testing::bin("zorvik-device-sim"), args);
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(sim.finish(5000), 2) << what;
        EXPECT_NE(sim.err.find("usage: zorvik-device-sim"), std::string::npos) << what;
        EXPECT_EQ(sim.out, "") << what;
    }
}

// ---- The twin ----

TEST_F(DiscoverTest, devices_everyAnswerListedOnce_evenTwiceFromOneHostOrEmpty_exitsZero) {
    const auto three = startDevices({"--hosts", "3"});
    const auto twice = startDevices({"--first-address", "127.0.0.7", "--answers", "2", "--payload", ""});
    Process twin(testing::bin("zorvik-discover"));
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
    Process twin(testing::bin("zorvik-discover"));
    // Another host probes too: the devices answer it, not the twin, and neither
    // its probe nor a stray datagram to the group reaches the twin's port.
    probe();
    probe("stray");
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    EXPECT_EQ(std::count(twin.out.begin(), twin.out.end(), '\n'), 5000);
}

TEST_F(DiscoverTest, noDevices_printsNothing_exitsOne) {
    Process twin(testing::bin("zorvik-discover"));
    EXPECT_EQ(twin.finish(), 1);
    EXPECT_EQ(twin.out + twin.err, "");
}

TEST_F(DiscoverTest, noRouteToTheGroup_reportsErrnoAndText_exitsTwo) {
    // A namespace of its own with no route at all.
    Process twin("unshare", {"--net", testing::bin("zorvik-discover")});
    EXPECT_EQ(twin.finish(), 2);
    EXPECT_EQ(twin.err, "error 101: Network is unreachable\n");
    EXPECT_EQ(twin.out, "");
}

TEST_F(DiscoverTest, arguments_helpAndVersionSucceed_anythingElseIsUsageError) {
    Process version(testing::bin("zorvik-discover"), {"--version"});
    Process help(testing::bin("zorvik-discover"), {"--help"});
    Process bad(testing::bin("zorvik-discover"), {"--bogus"});
    EXPECT_EQ(version.finish(5000), 0);
    EXPECT_NE(version.out.find("Zorvik Discovery) 1.00"), std::string::npos) << version.out;
    EXPECT_EQ(help.finish(5000), 0);
    EXPECT_NE(help.out.find("Usage: zorvik-discover"), std::string::npos);
    EXPECT_EQ(bad.finish(5000), 2);
    EXPECT_NE(bad.err.find("Usage: zorvik-discover"), std::string::npos);
    EXPECT_EQ(bad.out, "");
}

}  // namespace
}  // namespace zorvik
