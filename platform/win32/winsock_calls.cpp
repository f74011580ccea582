#include "winsock_calls.hpp"

namespace zorvik::win32 {
namespace {

class SystemWinsockCalls final : public WinsockCalls {
public:
    int WSAStartup(WORD version, WSADATA* data) override { return ::WSAStartup(version, data); }
    SOCKET socket(int family, int type, int protocol) override { return ::socket(family, type, protocol); }
    int closesocket(SOCKET s) override { return ::closesocket(s); }
    int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                 DWORD* returned) override {
        return ::WSAIoctl(s, code, in, inLength, out, outLength, returned, nullptr, nullptr);
    }
    int setsockopt(SOCKET s, int level, int name, const char* value, int length) override {
        return ::setsockopt(s, level, name, value, length);
    }
    int bind(SOCKET s, const sockaddr* at, int length) override { return ::bind(s, at, length); }
    int getsockname(SOCKET s, sockaddr* at, int* length) override { return ::getsockname(s, at, length); }
    WSAEVENT WSACreateEvent() override { return ::WSACreateEvent(); }
    BOOL WSACloseEvent(WSAEVENT event) override { return ::WSACloseEvent(event); }
    int WSAEventSelect(SOCKET s, WSAEVENT event, long events) override { return ::WSAEventSelect(s, event, events); }
    int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* happened) override {
        return ::WSAEnumNetworkEvents(s, event, happened);
    }
    int WSARecvMsg(LPFN_WSARECVMSG function, SOCKET s, WSAMSG* message, DWORD* received) override {
        return function(s, message, received, nullptr, nullptr);
    }
    int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength) override {
        return ::sendto(s, data, length, flags, to, toLength);
    }
    int WSAPoll(WSAPOLLFD* sockets, ULONG count, INT timeoutMs) override { return ::WSAPoll(sockets, count, timeoutMs); }
    int WSAGetLastError() override { return ::WSAGetLastError(); }
    HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initiallySet,
                        const wchar_t* name) override {
        return ::CreateEventW(attributes, manualReset, initiallySet, name);
    }
    BOOL SetEvent(HANDLE event) override { return ::SetEvent(event); }
    BOOL CloseHandle(HANDLE object) override { return ::CloseHandle(object); }
    DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL all, DWORD timeoutMs) override {
        return ::WaitForMultipleObjects(count, objects, all, timeoutMs);
    }
    DWORD GetLastError() override { return ::GetLastError(); }
};

}  // namespace

WinsockCalls& realWinsockCalls() {
    static SystemWinsockCalls calls;
    return calls;
}

}  // namespace zorvik::win32
