#include "form1.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "failure.hpp"

namespace zorvik {
namespace {

using Entries = std::vector<std::string>;

// Fakes of the controls that write every operation, reads included, to one
// shared log, so tests see the order across controls, which is the behaviour.
struct Log {
    Entries entries;
    std::string failOn;  // an operation that throws instead, as a failed system call would

    void operator()(const std::string& operation, std::string_view value = {}) {
        if (!failOn.empty() && operation.starts_with(failOn)) throw Failure(101, "Network is unreachable");
        entries.push_back(operation + std::string(value));
    }
};

struct Fakes final : CommandButton, TextBox, DatagramEndpoint, StartupSocketOption, Program {
    mutable Log log;
    ResultsText box;
    std::deque<std::string> unread;
    std::string sender;
    bool optionGranted = true;

    void setCaption(std::string_view c) override { log("cmdDiscover.Caption=", c); }
    void setEnabled(bool e) override { log("cmdDiscover.Enabled=", e ? "true" : "false"); }
    void Refresh() override { log("cmdDiscover.Refresh"); }
    ResultsText text() const override { return log("txtResults.Text"), box; }
    void setText(ResultsText t) override { log("txtResults.Text=", t.view()), box = std::move(t); }
    void setTimerEnabled(bool e) { log("tmrResetCaption.Enabled=", e ? "true" : "false"); }
    void setInterval(std::int32_t ms) { log("tmrResetCaption.Interval=", std::to_string(ms)); }
    void setProtocol(std::int32_t p) override { log("Winsock1.Protocol=", std::to_string(p)); }
    std::int32_t SocketHandle() const override { return log("Winsock1.SocketHandle"), 7; }
    void setRemotePort(std::int32_t p) override { log("Winsock1.RemotePort=", std::to_string(p)); }
    void setRemoteHost(std::string_view h) override { log("Winsock1.RemoteHost=", h); }
    void SendData(std::string_view payload) override { log("Winsock1.SendData=", payload); }
    void GetData(std::string& data, DataType, std::int32_t maxBytes) override {
        log("Winsock1.GetData=", std::to_string(maxBytes));
        data = unread.front().substr(0, static_cast<std::size_t>(maxBytes));
        unread.pop_front();
    }
    std::string RemoteHostIP() const override { return log("Winsock1.RemoteHostIP"), sender; }
    bool apply(std::int32_t handle) noexcept override {
        log.entries.push_back("startupOption=" + std::to_string(handle));
        return optionGranted;
    }
    void End() override { log("End"); }
};

// Timer::setEnabled and CommandButton::setEnabled share a signature; the
// timer's goes through this adapter so that each control logs its own name.
struct FakeTimer final : Timer {
    explicit FakeTimer(Fakes& f) : fakes(f) {}
    void setEnabled(bool e) override { fakes.setTimerEnabled(e); }
    void setInterval(std::int32_t ms) override { fakes.setInterval(ms); }
    Fakes& fakes;
};

// One Discover, in this order: the busy look painted at once, the box emptied,
// the destination set, the probe's exact bytes sent, the listening period restarted.
const Entries kDiscover = {
    "cmdDiscover.Caption=Running...", "cmdDiscover.Enabled=false", "cmdDiscover.Refresh",
    "txtResults.Text=", "Winsock1.RemotePort=4567", "Winsock1.RemoteHost=224.1.2.3",
    "Winsock1.SendData=" + std::string("\x5A\x56\x00\x01", 4), "tmrResetCaption.Enabled=false",
    "tmrResetCaption.Interval=5000", "tmrResetCaption.Enabled=true"};

Entries operator+(Entries a, const Entries& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Form1Test : public ::testing::Test {
protected:
    Fakes c;
    FakeTimer timer{c};
    Form1 form{{c, c, timer, c, c, c}};

    // A datagram from `from` arrives and its event is handled.
    void answer(const std::string& from, const std::string& payload = "ZV") {
        c.sender = from;
        c.unread.push_back(payload);
        form.Winsock1_DataArrival(static_cast<std::int32_t>(payload.size()));
    }
    std::string shown() const { return std::string(c.box.view()); }
};

TEST_F(Form1Test, loadThenDiscover_optionGrantedOrRefused_sameSteps) {
    for (const bool granted : {true, false}) {
        c.log.entries.clear();
        c.optionGranted = granted;
        form.Form_Load();
        form.cmdDiscover_Click();
        const Entries load = {"Winsock1.Protocol=1", "Winsock1.SocketHandle", "startupOption=7"};
        EXPECT_EQ(c.log.entries, load + kDiscover) << "granted: " << granted;
    }
}

TEST_F(Form1Test, discoverTwiceAfterAnswers_exitWhileListening_timer_eachOnlyItsOwnSteps) {
    answer("10.0.0.1");
    c.log.entries.clear();
    form.cmdDiscover_Click();
    form.cmdDiscover_Click();
    EXPECT_EQ(c.log.entries, kDiscover + kDiscover) << "one probe each time";
    EXPECT_EQ(shown(), "");
    c.log.entries.clear();
    form.cmdExit_Click();
    EXPECT_EQ(c.log.entries, Entries{"End"});
    c.log.entries.clear();
    form.tmrResetCaption_Timer();
    EXPECT_EQ(c.log.entries, (Entries{"tmrResetCaption.Enabled=false", "cmdDiscover.Caption=Discover",
                                      "cmdDiscover.Enabled=true"}));
}

TEST_F(Form1Test, arrival_takesOneDatagramThenReadsTheBoxBeforeTheSender) {
    c.unread = {"first", "second one"};
    c.sender = "10.0.0.1";
    form.Winsock1_DataArrival(5);
    EXPECT_EQ(c.unread, std::deque<std::string>{"second one"});
    EXPECT_EQ(c.log.entries, (Entries{"Winsock1.GetData=5", "txtResults.Text", "Winsock1.RemoteHostIP",
                                      "txtResults.Text=Zorvy found at address: 10.0.0.1\r\n"}));
}

TEST_F(Form1Test, arrivals_anyPayloadAnyState_eachAppendedAfterWhatTheBoxHolds) {
    c.box = ResultsText("typed by hand");
    form.cmdDiscover_Click();
    answer("192.168.1.20");
    answer("192.168.1.21", "");
    form.tmrResetCaption_Timer();
    c.box += "typed";
    answer("192.168.1.20", std::string("\0\xff garbage", 10));
    EXPECT_EQ(shown(),
              "Zorvy found at address: 192.168.1.20\r\n"
              "Zorvy found at address: 192.168.1.21\r\n"
              "typedZorvy found at address: 192.168.1.20\r\n");
}

TEST_F(Form1Test, failures_endTheHandlerAtTheFailedStep) {
    c.log.failOn = "Winsock1.SendData";
    EXPECT_THROW(form.cmdDiscover_Click(), Failure);
    EXPECT_EQ(c.log.entries, Entries(kDiscover.begin(), kDiscover.begin() + 6)) << "no timer step";

    c.box = ResultsText("kept");
    c.log.failOn = "Winsock1.GetData";
    EXPECT_THROW(answer("10.0.0.1"), Failure);
    EXPECT_EQ(shown(), "kept");
}

}  // namespace
}  // namespace zorvik
