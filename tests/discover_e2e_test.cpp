// zorvik-discover end to end: the real program, its endpoint and simulated
// devices, inside the private network namespace that scripts/lan provides.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// The listening period, and then some.
constexpr auto kRunLimit = 20s;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::string found(const std::string& address) { return std::string(protocol::kResultPrefix) + address; }

class DiscoverTest : public ::testing::Test {
protected:
    std::vector<std::unique_ptr<ChildProcess>> devices;

    // Starts a simulator and waits until it listens.
    void startDevices(std::vector<std::string> args) {
        args.insert(args.begin(), {"--interface", "lo"});
        devices.push_back(std::make_unique<ChildProcess>(testing::binDir() + "/zorvik-device-sim", args));
        ASSERT_TRUE(devices.back()->waitForLine("zorvik-device-sim: ready", 5s)) << devices.back()->err();
    }

    static std::unique_ptr<ChildProcess> discover(const std::vector<std::string>& args = {}) {
        return std::make_unique<ChildProcess>(testing::binDir() + "/zorvik-discover", args);
    }
};

TEST_F(DiscoverTest, threeDevices_eachListedOnce_exitsZero) {
    startDevices({"--hosts", "3", "--first-address", "127.0.0.2"});
    auto twin = discover();
    ASSERT_EQ(twin->wait(kRunLimit), 0) << twin->err();
    auto listed = lines(twin->out());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{found("127.0.0.2"), found("127.0.0.3"), found("127.0.0.4")}));
    EXPECT_EQ(twin->err(), "");
}

TEST_F(DiscoverTest, hostAnsweringTwice_orWithEmptyPayload_isListedEachTime) {
    startDevices({"--first-address", "127.0.0.7", "--answers", "2", "--payload", ""});
    auto twin = discover();
    ASSERT_EQ(twin->wait(kRunLimit), 0) << twin->err();
    EXPECT_EQ(lines(twin->out()), (std::vector<std::string>{found("127.0.0.7"), found("127.0.0.7")}));
}

TEST_F(DiscoverTest, datagramsToTheGroup_areNotAnswers) {
    startDevices({"--first-address", "127.0.0.2"});
    auto twin = discover();
    // Another host probes too: the devices answer it, not the twin, and neither
    // its probe nor a stray datagram to the group reaches the twin's port.
    const int other = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(static_cast<std::uint16_t>(protocol::kPort));
    ::inet_pton(AF_INET, std::string(protocol::kGroup).c_str(), &group.sin_addr);
    for (const std::string_view payload : {protocol::kProbe, std::string_view("stray")}) {
        ASSERT_GE(::sendto(other, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&group),
                           sizeof group),
                  0);
    }
    ASSERT_EQ(twin->wait(kRunLimit), 0) << twin->err();
    ::close(other);
    EXPECT_EQ(lines(twin->out()), std::vector<std::string>{found("127.0.0.2")});
}

TEST_F(DiscoverTest, burstOfThousands_everyAnswerListed) {
    startDevices({"--hosts", "50", "--first-address", "127.0.0.2", "--burst", "5000"});
    auto twin = discover();
    ASSERT_EQ(twin->wait(kRunLimit), 0) << twin->err();
    EXPECT_EQ(lines(twin->out()).size(), 5000u);
}

TEST_F(DiscoverTest, noDevices_printsNothing_exitsOne) {
    auto twin = discover();
    EXPECT_EQ(twin->wait(kRunLimit), 1);
    EXPECT_EQ(twin->out(), "");
    EXPECT_EQ(twin->err(), "");
}

TEST_F(DiscoverTest, noRouteToTheGroup_reportsErrnoAndText_exitsTwo) {
    // A namespace of its own with no route at all.
    ChildProcess twin("unshare", {"--net", testing::binDir() + "/zorvik-discover"});
    EXPECT_EQ(twin.wait(kRunLimit), 2);
    EXPECT_EQ(twin.err(), "error 101: Network is unreachable\n");
    EXPECT_EQ(twin.out(), "");
}

TEST_F(DiscoverTest, arguments_helpAndVersionSucceed_anythingElseIsUsageError) {
    auto version = discover({"--version"});
    EXPECT_EQ(version->wait(5s), 0);
    EXPECT_NE(version->out().find("Zorvik Discovery) 1.00"), std::string::npos) << version->out();
    auto help = discover({"--help"});
    EXPECT_EQ(help->wait(5s), 0);
    EXPECT_NE(help->out().find("Usage: zorvik-discover"), std::string::npos);
    auto bad = discover({"--bogus"});
    EXPECT_EQ(bad->wait(5s), 2);
    EXPECT_NE(bad->err().find("Usage: zorvik-discover"), std::string::npos);
    EXPECT_EQ(bad->out(), "");
}

}  // namespace
}  // namespace zorvik
