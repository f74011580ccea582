#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include <algorithm>
#include <memory>

#include "neighbours.hpp"

namespace zorvik {

std::vector<Neighbour> readNeighbourTable() {
    MIB_IPNET_TABLE2* table = nullptr;
    if (GetIpNetTable2(AF_INET, &table) != NO_ERROR) {
        return {};
    }
    const std::unique_ptr<MIB_IPNET_TABLE2, decltype(&FreeMibTable)> owner(table, &FreeMibTable);
    std::vector<Neighbour> all;
    const MIB_IPNET_ROW2* rows = table->Table;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = rows[i];
        Neighbour n{row.Address.Ipv4.sin_addr.s_addr, {}};
        std::copy_n(row.PhysicalAddress, n.mac.size(), n.mac.begin());
        // Unreachable and incomplete entries hold no MAC that was learnt, but some
        // (Wine's among them) list all zeros as one.
        if (row.Address.si_family == AF_INET && row.PhysicalAddressLength == n.mac.size() && !row.IsUnreachable &&
            row.State != NlnsUnreachable && row.State != NlnsIncomplete &&
            std::any_of(n.mac.begin(), n.mac.end(), [](std::uint8_t octet) { return octet != 0; })) {
            all.push_back(n);
        }
    }
    return all;
}

}  // namespace zorvik
