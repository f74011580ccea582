#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "results_text.hpp"

// The operations the window logic uses on its controls and its endpoint, and no
// others. The platform adapts real widgets and sockets to them; tests use fakes.
// Any operation may fail by throwing zorvik::Failure.
namespace zorvik {

class CommandButton {
public:
    virtual ~CommandButton() = default;
    virtual void setCaption(std::string_view caption) = 0;
    virtual void setEnabled(bool enabled) = 0;
    // Repaints the button as it now is before returning, delivering no other event.
    virtual void Refresh() = 0;
};

class TextBox {
public:
    virtual ~TextBox() = default;
    virtual ResultsText text() const = 0;
    virtual void setText(ResultsText text) = 0;
};

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setInterval(std::int32_t milliseconds) = 0;
};

// What GetData is asked to return; the logic only ever asks for text.
enum class DataType { Text };

class DatagramEndpoint {
public:
    virtual ~DatagramEndpoint() = default;
    virtual void setProtocol(std::int32_t protocol) = 0;
    virtual std::int32_t SocketHandle() const = 0;
    virtual void setRemotePort(std::int32_t port) = 0;
    virtual void setRemoteHost(std::string_view host) = 0;
    // Sends the payload as one datagram, one byte per character.
    virtual void SendData(std::string_view payload) = 0;
    // Removes the oldest arrived datagram, returning at most maxBytes of it.
    virtual void GetData(std::string& data, DataType type, std::int32_t maxBytes) = 0;
    // The dotted IPv4 sender of the datagram that raised the current arrival.
    virtual std::string RemoteHostIP() const = 0;
};

// The one socket option set at start-up. It must not fail the start-up, so it
// reports instead of throwing, and its caller is free to ignore the report.
class StartupSocketOption {
public:
    virtual ~StartupSocketOption() = default;
    [[nodiscard]] virtual bool apply(std::int32_t socketHandle) noexcept = 0;
};

class Program {
public:
    virtual ~Program() = default;
    // Ends the program at once: no handler runs after it.
    virtual void End() = 0;
};

}  // namespace zorvik
