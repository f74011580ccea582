#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "network_interfaces.hpp"

namespace zorvik {

// A command line the program cannot act on: reported with the usage status.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The interface named by `nameOrAddress` (its name, or one of its dotted IPv4
// addresses) to send the probe by. Throws UsageError, naming it, when there is
// no such interface or address, or it is down, or it has no IPv4 address.
NetworkInterface chooseInterface(const std::vector<NetworkInterface>& available, const std::string& nameOrAddress);

// One address of every interface that is up, multicast-capable and has an IPv4
// address; loopback only when there is no other. Throws UsageError when none.
std::vector<NetworkInterface> everyMulticastInterface(const std::vector<NetworkInterface>& available);

// "NAME (ADDRESS), NAME (ADDRESS)": for telling the user which were probed.
std::string describeInterfaces(const std::vector<NetworkInterface>& chosen);

}  // namespace zorvik
