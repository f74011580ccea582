// Tests of zorvik-device-sim. They send probes, so they run only inside the
// private network namespace that scripts/lan provides (see the IN_LAN flag).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::UniqueFd;
using Clock = std::chrono::steady_clock;

// A wait for something that must not happen cannot end early; keep it short.
constexpr auto kQuietPeriod = 300ms;
constexpr auto kPatience = 5s;

struct Answer {
    std::string from;
    std::string payload;
    friend auto operator<=>(const Answer&, const Answer&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Answer& a) {
        return out << a.from << " '" << a.payload << "'";
    }
};

// True when every interface here is a loopback one, as in scripts/lan's namespace:
// then nothing these tests send can leave the machine.
bool onlyLoopbackInterfaces() {
    const UniqueFd query(::socket(AF_INET, SOCK_DGRAM, 0));
    const std::unique_ptr<struct if_nameindex[], decltype(&if_freenameindex)> all(if_nameindex(),
                                                                                  &if_freenameindex);
    if (!query.valid() || !all) return false;
    for (const struct if_nameindex* i = all.get(); i->if_index != 0; ++i) {
        ifreq request{};
        std::string(i->if_name).copy(request.ifr_name, IFNAMSIZ - 1);
        if (::ioctl(query.get(), SIOCGIFFLAGS, &request) != 0 ||
            (request.ifr_flags & IFF_LOOPBACK) == 0) {
            return false;
        }
    }
    return true;
}

class DeviceSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(onlyLoopbackInterfaces()) << "run this only under scripts/lan: it sends probes";
        ASSERT_TRUE(prober_.valid());
        // Big enough for the bursts below; root may exceed the system's cap.
        const int size = 8 << 20;
        if (::setsockopt(prober_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
            ASSERT_EQ(::setsockopt(prober_.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size), 0);
        }
    }

    static std::unique_ptr<ChildProcess> startSim(const std::vector<std::string>& args) {
        auto sim = std::make_unique<ChildProcess>(testing::binDir() + "/zorvik-device-sim", args);
        if (!sim->waitForLine("zorvik-device-sim: ready", kPatience)) {
            throw std::runtime_error("the simulator did not get ready: " + sim->err());
        }
        return sim;
    }

    void send(std::string_view bytes = protocol::kProbe) {
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(static_cast<std::uint16_t>(protocol::kPort));
        ASSERT_EQ(inet_pton(AF_INET, std::string(protocol::kGroup).c_str(), &group.sin_addr), 1);
        ASSERT_EQ(::sendto(prober_.get(), bytes.data(), bytes.size(), 0,
                           reinterpret_cast<const sockaddr*>(&group), sizeof group),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Answers until `count` have come or `timeout` passes without the next one.
    std::vector<Answer> receive(std::size_t count, Clock::duration timeout = kPatience) {
        std::vector<Answer> answers;
        std::array<char, 1024> data{};
        pollfd readable{prober_.get(), POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
        while (answers.size() < count && ::poll(&readable, 1, static_cast<int>(ms)) == 1) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t size = ::recvfrom(prober_.get(), data.data(), data.size(), 0,
                                            reinterpret_cast<sockaddr*>(&from), &length);
            if (size < 0) throw std::runtime_error("recvfrom failed");
            std::array<char, INET_ADDRSTRLEN> address{};
            inet_ntop(AF_INET, &from.sin_addr, address.data(), address.size());
            answers.push_back(
                {address.data(), std::string(data.data(), static_cast<std::size_t>(size))});
        }
        return answers;
    }

    bool quiet() { return receive(1, kQuietPeriod).empty(); }

    UniqueFd prober_{::socket(AF_INET, SOCK_DGRAM, 0)};
};

std::vector<Answer> sorted(std::vector<Answer> answers) {
    std::sort(answers.begin(), answers.end());
    return answers;
}

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != text.npos;
}

// ---- Answering ----

TEST_F(DeviceSimTest, probe_threeHosts_oneAnswerFromEachAddressWithPayload) {
    auto sim = startSim({"--hosts", "3", "--payload", "hello"});
    send();
    EXPECT_EQ(
        sorted(receive(3)),
        (std::vector<Answer>{{"127.0.0.2", "hello"}, {"127.0.0.3", "hello"}, {"127.0.0.4", "hello"}}));
    EXPECT_TRUE(quiet());
}

TEST_F(DeviceSimTest, probe_twoSimulators_eachAnswersWithItsDefaultsOrEmptyPayload) {
    auto first = startSim({});
    auto second = startSim({"--first-address", "127.0.0.9", "--payload", ""});
    send();
    EXPECT_EQ(sorted(receive(2)), (std::vector<Answer>{{"127.0.0.2", "ZV"}, {"127.0.0.9", ""}}));
    EXPECT_TRUE(quiet());
}

TEST_F(DeviceSimTest, probe_twoAnswersPerHost_twoFromEachHost) {
    auto sim = startSim({"--hosts", "2", "--answers", "2"});
    send();
    EXPECT_EQ(sorted(receive(4)),
              (std::vector<Answer>{
                  {"127.0.0.2", "ZV"}, {"127.0.0.2", "ZV"}, {"127.0.0.3", "ZV"}, {"127.0.0.3", "ZV"}}));
    EXPECT_TRUE(quiet());
}

TEST_F(DeviceSimTest, notAProbe_wrongBytesOrLength_isIgnored) {
    auto sim = startSim({});
    const std::string probe(protocol::kProbe);
    for (const std::string& other :
         {probe.substr(0, 3), probe + "!", std::string("ZV\0\x02", 4), std::string()}) {
        send(other);
    }
    EXPECT_TRUE(quiet());
    send();  // still listening, so the silence above meant something
    EXPECT_EQ(receive(1).size(), 1u);
}

TEST_F(DeviceSimTest, probe_delay_answerComesNoSooner) {
    auto sim = startSim({"--delay", "400"});
    const auto sent = Clock::now();
    send();
    EXPECT_EQ(receive(1).size(), 1u);
    EXPECT_GE(Clock::now() - sent, 400ms);
}

TEST_F(DeviceSimTest, probe_burst_allAnswersArriveRotatingOverHosts) {
    // As many as the receive buffer surely holds (a small datagram takes under
    // 2 KiB of it), so none may be lost even if this test is slow to read.
    int buffer = 0;
    socklen_t length = sizeof buffer;
    ASSERT_EQ(::getsockopt(prober_.get(), SOL_SOCKET, SO_RCVBUF, &buffer, &length), 0);
    const int perHost = std::clamp(buffer / 2048 / 4, 25, 5000);
    auto sim = startSim({"--hosts", "4", "--burst", std::to_string(4 * perHost)});
    send();
    std::map<std::string, int> counts;
    for (const Answer& answer : receive(4 * static_cast<std::size_t>(perHost))) {
        ++counts[answer.from];
    }
    EXPECT_EQ(counts, (std::map<std::string, int>{{"127.0.0.2", perHost},
                                                  {"127.0.0.3", perHost},
                                                  {"127.0.0.4", perHost},
                                                  {"127.0.0.5", perHost}}));
}

// ---- Lifetime and options ----

TEST_F(DeviceSimTest, probesLimit_reached_exitsZeroAfterAnswering) {
    auto sim = startSim({"--probes", "1"});
    send();
    EXPECT_EQ(receive(1).size(), 1u);
    EXPECT_EQ(sim->wait(kPatience), 0);
}

TEST_F(DeviceSimTest, stopSignal_whileListening_exitsZero) {
    auto sim = startSim({});
    sim->terminate();
    EXPECT_EQ(sim->wait(kPatience), 0);
}

TEST(DeviceSimOptionsTest, badOption_exitsTwoWithUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"}, {"extra"}, {"--hosts"}, {"--hosts", "0"}, {"--hosts", "1001"}, {"--answers", "x"},
        {"--delay", "-1"}, {"--probes", "1.5"}, {"--burst", "5", "--answers", "2"},
        {"--first-address", "127.0.0"}, {"--interface", "nosuch0"},
    };
    for (const auto& args : cases) {
        ChildProcess sim(testing::binDir() + "/zorvik-device-sim", args);
        EXPECT_EQ(sim.wait(kPatience), 2) << args[0];
        EXPECT_TRUE(contains(sim.err(), "usage: zorvik-device-sim")) << args[0];
        EXPECT_EQ(sim.out(), "") << args[0];
    }
}

TEST(DeviceSimOptionsTest, help_exitsZeroWithUsageOnStdout) {
    ChildProcess sim(testing::binDir() + "/zorvik-device-sim", {"--help"});
    EXPECT_EQ(sim.wait(kPatience), 0);
    EXPECT_TRUE(contains(sim.out(), "--burst N"));
}

}  // namespace
}  // namespace zorvik
