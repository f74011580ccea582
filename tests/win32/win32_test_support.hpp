#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <optional>
#include <string>

#include "winsock_calls.hpp"

namespace zorvik::testing {

// Runs the message loop until the condition holds or the deadline passes,
// giving `dialog` its keyboard handling as the program's own loop does.
inline bool pumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5), HWND dialog = nullptr) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog != nullptr && IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!condition()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds period) { pumpUntil([] { return false; }, period); }

// What the kernel under Wine dropped on the UDP socket at `port` for want of
// buffer room: the drops column of the namespace's /proc/net/udp.
inline unsigned long kernelDrops(std::uint16_t port) {
    std::ifstream table("Z:\\proc\\net\\udp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, field;
        fields >> slot >> local;
        const auto colon = local.find(':');  // ADDRESS:PORT in hex; the heading has none
        if (colon == std::string::npos || std::stoul(local.substr(colon + 1), nullptr, 16) != port) continue;
        while (fields >> field) {}
        return std::stoul(field);
    }
    return 0;
}

// A device stand-in on loopback: a UDP socket bound to `address` and `port`, or,
// given a group address, a member of the group on loopback at that port. What
// it sends comes from the address it bound, as on Windows. It sends to that
// address too, where a socket bound to any address receives it: older Wine binds
// to the address's interface instead, and takes the source the kernel's route to
// the destination gives, which for these addresses is the address itself (each
// is a /32 of its own on loopback, `peer_addresses`).
class WinsockPeer {
public:
    explicit WinsockPeer(const char* address = "127.0.0.2", std::uint16_t port = 0) {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        ip_mreq join{};
        inet_pton(AF_INET, address, &join.imr_multiaddr);
        const bool group = ntohl(join.imr_multiaddr.s_addr) >> 28 == 0xE;
        at.sin_addr = group ? in_addr{} : join.imr_multiaddr;
        address_ = group ? "127.0.0.1" : address;
        bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
        if (group) setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&join), sizeof join);
        int length = sizeof at;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        const int buffer = 8 << 20;
        setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    }
    ~WinsockPeer() { closesocket(socket_); }
    WinsockPeer(const WinsockPeer&) = delete;
    WinsockPeer& operator=(const WinsockPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // Where its datagrams come from.
    const std::string& address() const { return address_; }
    SOCKET handle() const { return socket_; }

    // To `port` at the peer's own address, or at `address`.
    void sendTo(std::uint16_t port, const std::string& payload, const char* address = nullptr) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address ? address : address_.c_str(), &to.sin_addr);
        sendto(socket_, payload.data(), static_cast<int>(payload.size()), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }

    struct Datagram {
        std::string payload;
        std::uint16_t fromPort;
    };
    // The next datagram, or none within the deadline.
    std::optional<Datagram> receive(int timeoutMs = 2000) const {
        WSAPOLLFD readable{socket_, POLLRDNORM, 0};
        if (WSAPoll(&readable, 1, timeoutMs) <= 0) return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in from{};
        int length = sizeof from;
        const int got = recvfrom(socket_, buffer.data(), static_cast<int>(buffer.size()), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(got));
        return Datagram{buffer, ntohs(from.sin_port)};
    }

private:
    SOCKET socket_;
    std::string address_;
    std::uint16_t port_ = 0;
};

// Winsock's calls, except those a test has told to fail, once per error number
// given (0: that call passes), as a broken network would make them. The
// receive thread calls it too, so what a test scripts is guarded.
class ScriptedWinsockCalls final : public win32::WinsockCalls {
public:
    void fail(const std::string& call, std::deque<int> errors) { const std::lock_guard l(m_); failures_[call] = std::move(errors); }
    int made(const std::string& call) { const std::lock_guard l(m_); return counts_[call]; }
    // Sockets, socket events and events made and not yet closed.
    int held() const { return held_; }

    int WSAStartup(WORD v, WSADATA* d) override { return real_.WSAStartup(v, d); }
    SOCKET socket(int f, int t, int p) override { return counted(fails("socket") ? INVALID_SOCKET : real_.socket(f, t, p), INVALID_SOCKET); }
    int closesocket(SOCKET s) override { return --held_, real_.closesocket(s); }
    int WSAIoctl(SOCKET s, DWORD c, void* i, DWORD il, void* o, DWORD ol, DWORD* r) override {
        return fails("WSAIoctl") ? SOCKET_ERROR : real_.WSAIoctl(s, c, i, il, o, ol, r);
    }
    int setsockopt(SOCKET s, int l, int n, const char* v, int len) override {
        return fails("setsockopt") ? SOCKET_ERROR : real_.setsockopt(s, l, n, v, len);
    }
    int bind(SOCKET s, const sockaddr* a, int l) override { return fails("bind") ? SOCKET_ERROR : real_.bind(s, a, l); }
    int getsockname(SOCKET s, sockaddr* a, int* l) override { return real_.getsockname(s, a, l); }
    WSAEVENT WSACreateEvent() override {
        return counted(fails("WSACreateEvent") ? WSA_INVALID_EVENT : real_.WSACreateEvent(), WSA_INVALID_EVENT);
    }
    BOOL WSACloseEvent(WSAEVENT e) override { return --held_, real_.WSACloseEvent(e); }
    int WSAEventSelect(SOCKET s, WSAEVENT e, long n) override {
        return fails("WSAEventSelect") ? SOCKET_ERROR : real_.WSAEventSelect(s, e, n);
    }
    int WSAEnumNetworkEvents(SOCKET s, WSAEVENT e, WSANETWORKEVENTS* h) override { return real_.WSAEnumNetworkEvents(s, e, h); }
    int WSARecvMsg(LPFN_WSARECVMSG f, SOCKET s, WSAMSG* m, DWORD* r) override {
        return fails("WSARecvMsg") ? SOCKET_ERROR : real_.WSARecvMsg(f, s, m, r);
    }
    int sendto(SOCKET s, const char* d, int n, int f, const sockaddr* to, int tl) override {
        return fails("sendto") ? SOCKET_ERROR : real_.sendto(s, d, n, f, to, tl);
    }
    int WSAPoll(WSAPOLLFD* s, ULONG n, INT t) override { return fails("WSAPoll"), real_.WSAPoll(s, n, t); }
    int WSAGetLastError() override { return real_.WSAGetLastError(); }
    HANDLE CreateEventW(SECURITY_ATTRIBUTES* a, BOOL m, BOOL i, const wchar_t* n) override {
        return counted(fails("CreateEventW") ? nullptr : real_.CreateEventW(a, m, i, n), HANDLE{});
    }
    BOOL SetEvent(HANDLE e) override { return real_.SetEvent(e); }
    BOOL CloseHandle(HANDLE o) override { return --held_, real_.CloseHandle(o); }
    DWORD WaitForMultipleObjects(DWORD n, const HANDLE* o, BOOL a, DWORD t) override {
        return real_.WaitForMultipleObjects(n, o, a, t);
    }
    DWORD GetLastError() override { return real_.GetLastError(); }

private:
    // Whether the call fails now; if so, its error is left as the system leaves it.
    bool fails(const char* name) {
        const std::lock_guard l(m_);
        ++counts_[name];
        auto& errors = failures_[name];
        if (errors.empty()) return false;
        const int error = errors.front();
        errors.pop_front();
        if (error != 0) SetLastError(static_cast<DWORD>(error));
        return error != 0;
    }
    template <typename Handle>
    Handle counted(Handle handle, Handle none) { return held_ += handle != none, handle; }

    std::mutex m_;
    std::map<std::string, std::deque<int>> failures_;
    std::map<std::string, int> counts_;
    std::atomic<int> held_ = 0;
    win32::WinsockCalls& real_ = win32::realWinsockCalls();
};

}  // namespace zorvik::testing
