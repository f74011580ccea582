#pragma once

#include <string>

namespace zorvik::devicesim {

struct Interface {
    std::string name;
    unsigned index = 0;
    bool loopback = false;
};

// Looks the interface up; throws UsageError if there is none by that name.
Interface findInterface(const std::string& name);

// Throws Refusal unless joining the group on `interface` keeps all traffic off
// real networks: loopback, or any interface inside a private network namespace.
void ensureSafeToJoin(const Interface& interface);

}  // namespace zorvik::devicesim
