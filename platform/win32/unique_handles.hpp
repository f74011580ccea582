#pragma once

#include <utility>

#include "winsock_calls.hpp"

namespace zorvik::win32 {

// Owns one system object of the kind `Kind` names, closed through the seam
// that made it; Kind::kNone means none. Move-only, closes on destruction.
template <typename Kind>
class UniqueHandle {
public:
    using Handle = typename Kind::Handle;

    UniqueHandle() = default;
    UniqueHandle(WinsockCalls& calls, Handle handle) noexcept : calls_(&calls), handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : calls_(other.calls_), handle_(std::exchange(other.handle_, Kind::kNone)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            calls_ = other.calls_;
            handle_ = std::exchange(other.handle_, Kind::kNone);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Kind::kNone; }

    void reset() noexcept {
        if (valid()) {
            // Nothing useful can be done about a failed close of any of these.
            static_cast<void>(Kind::close(*calls_, handle_));
            handle_ = Kind::kNone;
        }
    }

private:
    WinsockCalls* calls_ = nullptr;
    Handle handle_ = Kind::kNone;
};

struct SocketKind {
    using Handle = SOCKET;
    static constexpr SOCKET kNone = INVALID_SOCKET;
    static int close(WinsockCalls& calls, SOCKET s) { return calls.closesocket(s); }
};
struct SocketEventKind {
    using Handle = WSAEVENT;
    static inline const WSAEVENT kNone = WSA_INVALID_EVENT;
    static BOOL close(WinsockCalls& calls, WSAEVENT event) { return calls.WSACloseEvent(event); }
};
struct EventKind {
    using Handle = HANDLE;
    static inline const HANDLE kNone = nullptr;
    static BOOL close(WinsockCalls& calls, HANDLE event) { return calls.CloseHandle(event); }
};

using UniqueSocket = UniqueHandle<SocketKind>;
using UniqueSocketEvent = UniqueHandle<SocketEventKind>;  // a WSAEVENT
using UniqueEvent = UniqueHandle<EventKind>;              // a kernel event's HANDLE

}  // namespace zorvik::win32
