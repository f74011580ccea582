#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <vector>

#include "network_interfaces.hpp"
#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik {
namespace {

// The system's adapters with their IPv4 addresses, in its order; an empty
// list when there are none.
std::vector<unsigned char> adapterList() {
    constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the calls; a few tries are enough.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA) {
        return {};
    }
    if (result != NO_ERROR) {
        throw win32::systemFailure(result);
    }
    return buffer;
}

const IP_ADAPTER_ADDRESSES* firstAdapter(const std::vector<unsigned char>& list) {
    return list.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data());
}

}  // namespace

std::vector<NetworkInterface> listNetworkInterfaces() {
    const auto list = adapterList();
    std::vector<NetworkInterface> all;
    for (auto* adapter = firstAdapter(list); adapter != nullptr; adapter = adapter->Next) {
        NetworkInterface i{win32::narrow(adapter->FriendlyName), 0, adapter->OperStatus == IfOperStatusUp,
                           (adapter->Flags & IP_ADAPTER_NO_MULTICAST) == 0,
                           adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK};
        bool listed = false;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address != nullptr && address->sa_family == AF_INET) {
                i.address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
                all.push_back(i);
                listed = true;
            }
        }
        if (!listed) {
            all.push_back(i);
        }
    }
    return all;
}

// The friendly name, which is what -i takes on Windows.
std::string interfaceNameOf(std::uint32_t index) {
    try {
        const auto list = adapterList();
        for (auto* adapter = firstAdapter(list); adapter != nullptr && index != 0; adapter = adapter->Next) {
            if (adapter->IfIndex == index) return win32::narrow(adapter->FriendlyName);
        }
    } catch (const Failure&) {
        // The name is a courtesy: without the list, it is not known.
    }
    return {};
}

}  // namespace zorvik
