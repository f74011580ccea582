#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zorvik {

// Reverse lookups of addresses, started at once on up to `atOnce` threads of
// their own. Whatever is not back when the names are taken is given up: its
// threads finish on their own and their results go nowhere, so a resolver that
// hangs holds up no one. The threads that are done are joined when the lookups
// go, so none of them is still ending (freeing the resolver's state) as the
// program exits.
class NameLookups {
public:
    using Lookup = std::function<std::string(std::uint32_t address)>;  // empty when it has none; must not throw

    NameLookups(std::vector<std::uint32_t> addresses, Lookup lookUp, std::size_t atOnce = 16);
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;
    ~NameLookups();

    // The name of each address, in order, waiting for them until `deadline` at
    // the latest; empty for those not back by then.
    std::vector<std::string> takeBy(std::chrono::steady_clock::time_point deadline);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::vector<std::thread> threads_;
};

}  // namespace zorvik
