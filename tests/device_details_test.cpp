// The host names' time budget, through a seam; and every detail of devices from
// the system, among neighbours on a bridge in a private namespace (neighbour_lan).
#include "device_details.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "name_lookups.hpp"
#include "neighbours.hpp"

#ifndef _WIN32
#include "scripted_calls.hpp"
#include "system_tables.hpp"
#endif

namespace zorvik {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds, std::chrono::seconds;

// A resolver that names addresses up to 20 at once and hangs on the others until released (or 10 s).
struct Resolver {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int running = 0, most = 0, calls = 0;

    std::string lookUp(std::uint32_t address) {
        std::unique_lock lock(mutex);
        ++calls;
        most = std::max(most, ++running);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return address <= 20 || released; });
        --running;
        return address <= 20 ? "host-" + std::to_string(address) : "late";
    }
};

TEST(NameLookupsTest, takeBy_someHang_namesBackByTheDeadline_othersGivenUpOn_16AtOnce) {
    auto resolver = std::make_shared<Resolver>();
    std::vector<std::uint32_t> addresses(40);
    for (std::uint32_t a = 0; a < addresses.size(); ++a) addresses[a] = a + 1;
    std::vector<std::string> names;
    const auto start = Clock::now();
    {
        NameLookups lookups(addresses, [resolver](std::uint32_t a) { return resolver->lookUp(a); });
        names = lookups.takeBy(start + seconds(1));
    }
    EXPECT_LT(Clock::now() - start, seconds(5));  // not released, they would hold it 10 s
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(names[i], i < 20 ? "host-" + std::to_string(i + 1) : "") << i;
    {
        const std::lock_guard lock(resolver->mutex);
        EXPECT_EQ(resolver->most, 16);
        resolver->released = true;
        resolver->changed.notify_all();
    }
    // The threads given up on end by themselves, and the last frees what they shared.
    const auto deadline = Clock::now() + seconds(10);
    while (resolver.use_count() > 1 && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(resolver.use_count(), 1);
    EXPECT_EQ(resolver->calls, 36);  // 20 named, 16 hung; the 4 left never started
}

// Each thread lingers as it ends, as glibc's does freeing its resolver state: a
// program that exited meanwhile would have it reported as a leak under ASan.
TEST(NameLookupsTest, takeBy_allBackEarly_returnsWithoutWaitingOutTheDeadline_threadsEndedWithTheLookups) {
    static std::atomic<int> began = 0, ended = 0;
    struct Lingering {
        Lingering() { ++began; }
        ~Lingering() { std::this_thread::sleep_for(milliseconds(100)), ++ended; }
    };
    const auto start = Clock::now();
    {
        NameLookups lookups({1, 2, 3}, [](std::uint32_t a) {
            thread_local Lingering ending;
            return std::string(a, 'n');
        });
        EXPECT_EQ(lookups.takeBy(start + seconds(60)), (std::vector<std::string>{"n", "nn", "nnn"}));
    }
    EXPECT_LT(Clock::now() - start, seconds(30));
    EXPECT_TRUE(began > 0 && ended == began) << ended << " of " << began;
}

std::uint32_t ipv4(std::uint8_t last, std::uint8_t third = 0) {
    const std::array<std::uint8_t, 4> bytes{10, 5, third, last};
    std::uint32_t address;
    std::memcpy(&address, bytes.data(), sizeof address);
    return address;
}

// How many of neighbour_lan's neighbours with a MAC a table holds.
std::ptrdiff_t added(const std::vector<Neighbour>& table) {
    std::set<std::uint32_t> all{ipv4(21)};
    for (int i = 1; i < 255; ++i) all.insert(ipv4(static_cast<std::uint8_t>(i), 1));
    return std::count_if(table.begin(), table.end(), [&](const Neighbour& n) { return all.count(n.address); });
}

TEST(LookUpDetailsTest, lookUpDetails_neighboursOnABridge_macMakerAndNameOfEach_emptyWhereUnknown) {
    // All of them, though the kernel lists them in several batches; and not the real
    // network's, where the names looked up below would ask the real resolver.
    ASSERT_EQ(added(readNeighbourTable()), 255)
        << "not among neighbour_lan's neighbours: run it only by tests/neighbour_lan, in a private namespace";
    const auto details = lookUpDetails({ipv4(21), ipv4(22), ipv4(23), ipv4(24), ipv4(25)}, seconds(2),
                                       [](const std::string& note) { ADD_FAILURE() << note; });
    std::vector<std::array<std::string, 3>> fields;
    for (const auto& [mac, maker, name] : details) fields.push_back({mac, maker, name});
    EXPECT_EQ(fields, (decltype(fields){{"00:22:72:00:00:01", "American Micro-Fuel Device Corp.", "cam-21.lan"},
                                        {"70:b3:d5:f2:f0:22", "TELEPLATFORMS", ""},
                                        {"02:00:00:00:00:23", std::string(kLocallyAdministered), ""},
                                        {"", "", ""},    // the entry that never learnt a MAC
                                        {"", "", ""}}));  // no entry at all
}

#ifndef _WIN32
// A signal during the dump costs nothing; a read that fails ends it, with no
// neighbours rather than a failure.
TEST(LookUpDetailsTest, readNeighbourTable_readInterrupted_allTheSame_readFailed_none) {
    for (const auto& [error, count] : {std::pair{EINTR, 255}, {ENOBUFS, 0}}) {
        testing::ScriptedCalls calls;
        calls.fail("recvmsg", {error});
        EXPECT_EQ(added(readNeighbourTable(calls)), count) << error;
    }
}
#endif

}  // namespace
}  // namespace zorvik
