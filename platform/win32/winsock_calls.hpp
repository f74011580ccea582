#pragma once

#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>

namespace zorvik::win32 {

// The one seam through which the endpoint's socket reaches Winsock and the
// kernel objects it waits on, so that tests can make a call fail (WSAENETDOWN,
// WSAEWOULDBLOCK, ...) without a broken network. Each call behaves like its
// namesake, the error number included: a failed call leaves it for
// WSAGetLastError or GetLastError.
class WinsockCalls {
public:
    virtual ~WinsockCalls() = default;
    virtual int WSAStartup(WORD version, WSADATA* data) = 0;
    virtual SOCKET socket(int family, int type, int protocol) = 0;
    virtual int closesocket(SOCKET s) = 0;
    virtual int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                         DWORD* returned) = 0;
    virtual int setsockopt(SOCKET s, int level, int name, const char* value, int length) = 0;
    virtual int bind(SOCKET s, const sockaddr* at, int length) = 0;
    virtual int getsockname(SOCKET s, sockaddr* at, int* length) = 0;
    virtual WSAEVENT WSACreateEvent() = 0;
    virtual BOOL WSACloseEvent(WSAEVENT event) = 0;
    virtual int WSAEventSelect(SOCKET s, WSAEVENT event, long events) = 0;
    virtual int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* happened) = 0;
    // The call through the pointer WSAIoctl gave for WSAID_WSARECVMSG, without overlapping.
    virtual int WSARecvMsg(LPFN_WSARECVMSG function, SOCKET s, WSAMSG* message, DWORD* received) = 0;
    virtual int sendto(SOCKET s, const char* data, int length, int flags, const sockaddr* to, int toLength) = 0;
    virtual int WSAPoll(WSAPOLLFD* sockets, ULONG count, INT timeoutMs) = 0;
    virtual int WSAGetLastError() = 0;
    virtual HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initiallySet,
                                const wchar_t* name) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;
    virtual BOOL CloseHandle(HANDLE object) = 0;
    virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL all, DWORD timeoutMs) = 0;
    virtual DWORD GetLastError() = 0;
};

// The system's own calls.
WinsockCalls& realWinsockCalls();

}  // namespace zorvik::win32
