#include "interface_choice.hpp"

#include <algorithm>

#include "destination.hpp"
#include "untrusted_text.hpp"

namespace zorvik {

NetworkInterface chooseInterface(const std::vector<NetworkInterface>& available, const std::string& nameOrAddress) {
    const auto address = parseDottedAddress(nameOrAddress);
    const auto named = [&](const NetworkInterface& i) {
        // An interface without IPv4 is listed with address 0, which names none.
        return address ? *address != 0 && i.address == *address : i.name == nameOrAddress;
    };
    const auto found = std::find_if(available.begin(), available.end(), named);
    const std::string shown = visibleText(nameOrAddress);
    if (found == available.end()) {
        throw UsageError(address ? shown + " is not the address of any interface" : "no interface '" + shown + "'");
    }
    if (!found->up) {
        throw UsageError("interface '" + shown + "' is down");
    }
    const auto withAddress = std::find_if(found, available.end(),
                                          [&](const NetworkInterface& i) { return named(i) && i.address != 0; });
    if (withAddress == available.end()) {
        throw UsageError("interface '" + shown + "' has no IPv4 address");
    }
    return *withAddress;
}

std::vector<NetworkInterface> everyMulticastInterface(const std::vector<NetworkInterface>& available) {
    std::vector<NetworkInterface> chosen, loopback;
    for (const auto& i : available) {
        if (!i.up || !i.multicast || i.address == 0) {
            continue;
        }
        auto& into = i.loopback ? loopback : chosen;
        // One probe per interface, by its first address.
        if (std::none_of(into.begin(), into.end(), [&](const NetworkInterface& c) { return c.name == i.name; })) {
            into.push_back(i);
        }
    }
    if (chosen.empty()) {
        chosen = std::move(loopback);
    }
    if (chosen.empty()) {
        throw UsageError("no interface is up, multicast-capable and with an IPv4 address");
    }
    return chosen;
}

std::string describeInterfaces(const std::vector<NetworkInterface>& chosen) {
    std::string text;
    for (const auto& i : chosen) {
        text += (text.empty() ? "" : ", ") + visibleText(i.name) + " (" + dottedAddress(i.address) + ")";
    }
    return text;
}

}  // namespace zorvik
