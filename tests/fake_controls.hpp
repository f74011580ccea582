#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "controls.hpp"
#include "failure.hpp"

// Recording fakes of the controls. Every operation is written to one shared log
// (so tests can check order across controls where order is the behaviour), and
// any operation can be made to fail by naming it.
namespace zorvik::testing {

struct Log {
    std::vector<std::string> entries;
    std::optional<std::string> failOn;

    void record(const std::string& entry) {
        if (failOn && entry.starts_with(*failOn)) {
            throw Failure(101, "Network is unreachable");
        }
        entries.push_back(entry);
    }
};

class FakeButton : public CommandButton {
public:
    explicit FakeButton(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
    void setCaption(std::string_view c) override {
        log_.record(name_ + ".Caption=" + std::string(c));
        caption = c;
    }
    void setEnabled(bool e) override {
        log_.record(name_ + ".Enabled=" + (e ? "true" : "false"));
        enabled = e;
    }
    void Refresh() override {
        log_.record(name_ + ".Refresh");
        painted.push_back({caption, enabled});
    }

    std::string caption = "Discover";
    bool enabled = true;
    struct Look {
        std::string caption;
        bool enabled;
    };
    std::vector<Look> painted;

private:
    Log& log_;
    std::string name_;
};

class FakeTextBox : public TextBox {
public:
    explicit FakeTextBox(Log& log) : log_(log) {}
    ResultsText text() const override { return value; }
    void setText(ResultsText t) override {
        log_.record("txtResults.Text");
        grewInPlace.push_back(!t.empty() && !value.empty() && t.extends(value));
        value = std::move(t);
    }
    std::string shown() const { return std::string(value.view()); }

    ResultsText value;
    std::vector<bool> grewInPlace;

private:
    Log& log_;
};

class FakeTimer : public Timer {
public:
    explicit FakeTimer(Log& log) : log_(log) {}
    void setEnabled(bool e) override {
        log_.record(std::string("tmrResetCaption.Enabled=") + (e ? "true" : "false"));
        enabled = e;
    }
    void setInterval(std::int32_t ms) override {
        log_.record("tmrResetCaption.Interval=" + std::to_string(ms));
        interval = ms;
    }
    bool due() const { return enabled && interval > 0; }

    bool enabled = true;
    std::int32_t interval = 0;

private:
    Log& log_;
};

class FakeEndpoint : public DatagramEndpoint {
public:
    struct Datagram {
        std::string sender;
        std::string payload;
    };
    struct Sent {
        std::string host;
        std::int32_t port;
        std::string payload;
    };

    explicit FakeEndpoint(Log& log) : log_(log) {}

    void setProtocol(std::int32_t p) override {
        log_.record("Winsock1.Protocol=" + std::to_string(p));
        protocol = p;
    }
    std::int32_t SocketHandle() const override {
        log_.record("Winsock1.SocketHandle");
        return 7;
    }
    void setRemotePort(std::int32_t p) override {
        log_.record("Winsock1.RemotePort=" + std::to_string(p));
        port = p;
    }
    void setRemoteHost(std::string_view h) override {
        log_.record("Winsock1.RemoteHost=" + std::string(h));
        host = h;
    }
    void SendData(std::string_view payload) override {
        log_.record("Winsock1.SendData");
        sent.push_back({host, port, std::string(payload)});
    }
    void GetData(std::string& data, DataType, std::int32_t maxBytes) override {
        log_.record("Winsock1.GetData=" + std::to_string(maxBytes));
        data = queue.front().payload.substr(0, static_cast<std::size_t>(maxBytes));
        queue.pop_front();
    }
    std::string RemoteHostIP() const override {
        log_.record("Winsock1.RemoteHostIP");
        return current;
    }

    // A datagram arrives; returns the size its arrival event carries.
    std::int32_t arrive(std::string sender, std::string payload = "ZV") {
        const auto size = static_cast<std::int32_t>(payload.size());
        current = sender;
        queue.push_back({std::move(sender), std::move(payload)});
        return size;
    }

    std::int32_t protocol = 0;
    std::string host = "10.0.0.9";
    std::int32_t port = 9;
    std::vector<Sent> sent;
    std::deque<Datagram> queue;
    std::string current;

private:
    Log& log_;
};

class FakeStartupOption : public StartupSocketOption {
public:
    explicit FakeStartupOption(Log& log) : log_(log) {}
    bool apply(std::int32_t handle) noexcept override {
        log_.entries.push_back("startupOption=" + std::to_string(handle));
        return succeeds;
    }
    bool succeeds = true;

private:
    Log& log_;
};

class FakeProgram : public Program {
public:
    explicit FakeProgram(Log& log) : log_(log) {}
    void End() override { log_.record("End"); }

private:
    Log& log_;
};

}  // namespace zorvik::testing
