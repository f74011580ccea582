#include "form1.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "failure.hpp"

namespace zorvik {
namespace {

// Fakes of the controls that write every operation, with its value, to one
// shared log, so tests see the order across controls, which is the behaviour.
struct Log {
    std::vector<std::string> entries;
    std::string failOn;  // an operation that throws instead, as a failed system call would

    void operator()(const std::string& operation, std::string_view value = {}) {
        if (!failOn.empty() && operation.starts_with(failOn)) throw Failure(101, "Network is unreachable");
        entries.push_back(operation + std::string(value));
    }
};

struct FakeButton final : CommandButton {
    explicit FakeButton(Log& l) : log(l) {}
    void setCaption(std::string_view c) override { log("cmdDiscover.Caption=", c); }
    void setEnabled(bool e) override { log("cmdDiscover.Enabled=", e ? "true" : "false"); }
    void Refresh() override { log("cmdDiscover.Refresh"); }
    Log& log;
};

struct FakeTextBox final : TextBox {
    explicit FakeTextBox(Log& l) : log(l) {}
    ResultsText text() const override { return value; }
    void setText(ResultsText t) override {
        log("txtResults.Text=", t.view());
        if (!value.empty()) extended.push_back(t.extends(value));
        value = std::move(t);
    }
    std::string shown() const { return std::string(value.view()); }
    Log& log;
    ResultsText value;
    std::vector<bool> extended;  // per text set on a non-empty box: was it the box's own, grown?
};

struct FakeTimer final : Timer {
    explicit FakeTimer(Log& l) : log(l) {}
    void setEnabled(bool e) override { log("tmrResetCaption.Enabled=", e ? "true" : "false"); }
    void setInterval(std::int32_t ms) override { log("tmrResetCaption.Interval=", std::to_string(ms)); }
    Log& log;
};

struct FakeEndpoint final : DatagramEndpoint {
    explicit FakeEndpoint(Log& l) : log(l) {}
    void setProtocol(std::int32_t p) override { log("Winsock1.Protocol=", std::to_string(p)); }
    std::int32_t SocketHandle() const override { return log("Winsock1.SocketHandle"), 7; }
    void setRemotePort(std::int32_t p) override { log("Winsock1.RemotePort=", std::to_string(p)); }
    void setRemoteHost(std::string_view h) override { log("Winsock1.RemoteHost=", h); }
    void SendData(std::string_view payload) override { log("Winsock1.SendData=", payload); }
    void GetData(std::string& data, DataType, std::int32_t maxBytes) override {
        log("Winsock1.GetData=", std::to_string(maxBytes));
        data = queue.front().substr(0, static_cast<std::size_t>(maxBytes));
        queue.pop_front();
    }
    std::string RemoteHostIP() const override { return log("Winsock1.RemoteHostIP"), sender; }
    // A datagram comes from `from`; returns the size its arrival event carries.
    std::int32_t arrive(const std::string& from, const std::string& payload = "ZV") {
        sender = from;
        queue.push_back(payload);
        return static_cast<std::int32_t>(payload.size());
    }
    Log& log;
    std::deque<std::string> queue;  // payloads not yet read
    std::string sender;
};

using Entries = std::vector<std::string>;

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

// The fixture itself stands in for the start-up option and the program.
class Form1Test : public ::testing::Test, public StartupSocketOption, public Program {
protected:
    Log log;
    bool optionGranted = true;
    FakeButton cmdDiscover{log};
    FakeTextBox txtResults{log};
    FakeTimer tmrResetCaption{log};
    FakeEndpoint Winsock1{log};
    Form1 form{{cmdDiscover, txtResults, tmrResetCaption, Winsock1, *this, *this}};

    bool apply(std::int32_t handle) noexcept override {
        log.entries.push_back("startupOption=" + std::to_string(handle));
        return optionGranted;
    }
    void End() override { log("End"); }
    void answer(const std::string& sender, const std::string& payload = "ZV") {
        form.Winsock1_DataArrival(Winsock1.arrive(sender, payload));
    }
};

// ---- Start-up and Discover ----

TEST_F(Form1Test, load_optionGrantedOrRefused_appliedToTheUdpSocketAndChangesNothingElse) {
    for (const bool granted : {true, false}) {
        log.entries.clear();
        optionGranted = granted;
        form.Form_Load();
        form.cmdDiscover_Click();
        const Entries load = {"Winsock1.Protocol=1", "Winsock1.SocketHandle", "startupOption=7"};
        EXPECT_EQ(log.entries, load + kDiscover) << "granted: " << granted;
    }
}

TEST_F(Form1Test, discover_everyTime_paintsBusyEmptiesTheBoxSendsTheProbeOnceThenRestartsTheTimer) {
    answer("10.0.0.1");
    log.entries.clear();
    form.cmdDiscover_Click();
    form.cmdDiscover_Click();
    EXPECT_EQ(log.entries, kDiscover + kDiscover);
    EXPECT_EQ(txtResults.shown(), "");
}

// ---- Arrivals ----

TEST_F(Form1Test, arrival_consumesExactlyOneDatagramOfTheReportedSize) {
    Winsock1.arrive("10.0.0.1", "first");
    Winsock1.arrive("10.0.0.2", "second one");
    form.Winsock1_DataArrival(5);
    EXPECT_EQ(Winsock1.queue, std::deque<std::string>{"second one"});
    EXPECT_EQ(log.entries.front(), "Winsock1.GetData=5");
}

TEST_F(Form1Test, arrivals_eachListedInOrderWithCrLf_whateverThePayload_evenAfterTheTimer) {
    form.cmdDiscover_Click();
    answer("192.168.1.20");
    answer("192.168.1.21", "");
    form.tmrResetCaption_Timer();
    answer("192.168.1.20", std::string("\0\xff garbage", 10));
    EXPECT_EQ(txtResults.shown(),
              "Zorvy found at address: 192.168.1.20\r\n"
              "Zorvy found at address: 192.168.1.21\r\n"
              "Zorvy found at address: 192.168.1.20\r\n");
    // Handing the box its own text grown is what lets a real box append, not redo.
    EXPECT_EQ(txtResults.extended, (std::vector<bool>{true, true}));
}

TEST_F(Form1Test, arrival_withUserTextInTheBox_appendsRightAfterIt) {
    txtResults.value = ResultsText("typed by hand");
    answer("10.0.0.3");
    EXPECT_EQ(txtResults.shown(), "typed by handZorvy found at address: 10.0.0.3\r\n");
    EXPECT_EQ(txtResults.extended, std::vector<bool>{true});
}

// ---- Timer, failures and Exit ----

TEST_F(Form1Test, timer_disablesItselfAndRestoresTheButton_only) {
    form.cmdDiscover_Click();
    log.entries.clear();
    form.tmrResetCaption_Timer();
    EXPECT_EQ(log.entries, (Entries{"tmrResetCaption.Enabled=false", "cmdDiscover.Caption=Discover",
                                    "cmdDiscover.Enabled=true"}));
}

TEST_F(Form1Test, discover_sendFails_failurePropagatesBeforeAnyTimerStep) {
    log.failOn = "Winsock1.SendData";
    EXPECT_THROW(form.cmdDiscover_Click(), Failure);
    EXPECT_EQ(log.entries, Entries(kDiscover.begin(), kDiscover.begin() + 6));
}

TEST_F(Form1Test, arrival_readFails_leavesTheBoxAlone) {
    txtResults.value = ResultsText("kept");
    log.failOn = "Winsock1.GetData";
    EXPECT_THROW(answer("10.0.0.1"), Failure);
    EXPECT_EQ(txtResults.shown(), "kept");
}

TEST_F(Form1Test, exitWhileListening_endsAndDoesNothingElse) {
    form.cmdDiscover_Click();
    log.entries.clear();
    form.cmdExit_Click();
    EXPECT_EQ(log.entries, Entries{"End"});
}

}  // namespace
}  // namespace zorvik
