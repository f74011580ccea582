#include "system_error.hpp"

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "wide_text.hpp"

namespace zorvik::win32 {
namespace {

// The system's own words for the socket errors this program can meet, for
// systems that have no text for them (Wine has none for Winsock's numbers).
const wchar_t* socketErrorText(unsigned long error) {
    switch (error) {
    case WSAEACCES: return L"An attempt was made to access a socket in a way forbidden by its access permissions.";
    case WSAEINVAL: return L"An invalid argument was supplied.";
    case WSAEWOULDBLOCK: return L"A non-blocking socket operation could not be completed immediately.";
    case WSAENOTSOCK: return L"An operation was attempted on something that is not a socket.";
    case WSAEMSGSIZE:
        return L"A message sent on a datagram socket was larger than the internal message buffer or some other "
               L"network limit, or the buffer used to receive a datagram into was smaller than the datagram itself.";
    case WSAEPROTONOSUPPORT:
        return L"The requested protocol has not been configured into the system, or no implementation for it exists.";
    case WSAEADDRNOTAVAIL: return L"The requested address is not valid in its context.";
    case WSAENETDOWN: return L"A socket operation encountered a dead network.";
    case WSAENETUNREACH: return L"A socket operation was attempted to an unreachable network.";
    case WSAECONNRESET: return L"An existing connection was forcibly closed by the remote host.";
    case WSAENOBUFS:
        return L"An operation on a socket could not be performed because the system lacked sufficient buffer space "
               L"or because a queue was full.";
    case WSAEHOSTUNREACH: return L"A socket operation was attempted to an unreachable host.";
    default: return nullptr;
    }
}

}  // namespace

Failure systemFailure(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring description = length > 0 ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    // The system's texts end in a line break, which a one-line report does not want.
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r')) {
        description.pop_back();
    }
    if (description.empty() && socketErrorText(error) != nullptr) {
        description = socketErrorText(error);
    }
    if (description.empty()) {
        return Failure(static_cast<int>(error), "Windows error " + std::to_string(error));
    }
    return Failure(static_cast<int>(error), narrow(description));
}

Failure lastError() { return systemFailure(GetLastError()); }

Failure lastSocketError() { return systemFailure(static_cast<unsigned long>(WSAGetLastError())); }

}  // namespace zorvik::win32
