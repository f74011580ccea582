#include "form1.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_controls.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

using testing::FakeButton;
using testing::FakeEndpoint;
using testing::FakeProgram;
using testing::FakeStartupOption;
using testing::FakeTextBox;
using testing::FakeTimer;
using testing::Log;

std::string line(const std::string& address) {
    return std::string(protocol::kResultPrefix) + address + "\r\n";
}

class Form1Test : public ::testing::Test {
protected:
    Log log;
    FakeButton cmdDiscover{log, "cmdDiscover"};
    FakeTextBox txtResults{log};
    FakeTimer tmrResetCaption{log};
    FakeEndpoint Winsock1{log};
    FakeStartupOption startupOption{log};
    FakeProgram program{log};
    Form1 form{{cmdDiscover, txtResults, tmrResetCaption, Winsock1, startupOption, program}};

    void answer(const std::string& sender, std::string payload = "ZV") {
        form.Winsock1_DataArrival(Winsock1.arrive(sender, std::move(payload)));
    }
    std::size_t indexOf(const std::string& entry) const {
        auto it = std::find(log.entries.begin(), log.entries.end(), entry);
        EXPECT_NE(it, log.entries.end()) << entry << " was never done";
        return static_cast<std::size_t>(it - log.entries.begin());
    }
};

// ---- Start-up ----

TEST_F(Form1Test, load_makesEndpointUdpThenAppliesOptionToItsSocket) {
    form.Form_Load();
    EXPECT_EQ(Winsock1.protocol, protocol::kProtocolUdp);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"Winsock1.Protocol=1", "Winsock1.SocketHandle",
                                                     "startupOption=7"}));
}

TEST_F(Form1Test, load_optionRefused_changesNothing) {
    startupOption.succeeds = false;
    EXPECT_NO_THROW(form.Form_Load());
    form.cmdDiscover_Click();
    EXPECT_EQ(Winsock1.sent.size(), 1u);
}

// ---- Discover ----

TEST_F(Form1Test, discover_showsBusyDisabledButtonRepaintedBeforeAnythingElse) {
    form.cmdDiscover_Click();
    ASSERT_GE(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[2], "cmdDiscover.Refresh");
    ASSERT_EQ(cmdDiscover.painted.size(), 1u);
    EXPECT_EQ(cmdDiscover.painted[0].caption, "Running...");
    EXPECT_FALSE(cmdDiscover.painted[0].enabled);
    EXPECT_EQ(cmdDiscover.caption, "Running...");
    EXPECT_FALSE(cmdDiscover.enabled);
}

TEST_F(Form1Test, discover_sendsTheFourProbeBytesOnceToTheGroup) {
    form.cmdDiscover_Click();
    ASSERT_EQ(Winsock1.sent.size(), 1u);
    const auto& probe = Winsock1.sent[0];
    EXPECT_EQ(probe.host, "224.1.2.3");
    EXPECT_EQ(probe.port, 4567);
    EXPECT_EQ(probe.payload, std::string("\x5A\x56\x00\x01", 4));
}

TEST_F(Form1Test, discover_setsDestinationEveryTimeBeforeTheSend) {
    form.cmdDiscover_Click();
    Winsock1.host = "192.168.1.20";
    Winsock1.port = 80;
    log.entries.clear();
    form.cmdDiscover_Click();
    EXPECT_LT(indexOf("Winsock1.RemotePort=4567"), indexOf("Winsock1.SendData"));
    EXPECT_LT(indexOf("Winsock1.RemoteHost=224.1.2.3"), indexOf("Winsock1.SendData"));
    EXPECT_EQ(Winsock1.sent.back().host, "224.1.2.3");
    EXPECT_EQ(Winsock1.sent.back().port, 4567);
}

TEST_F(Form1Test, discover_restartsTheListeningPeriodAfterTheSend) {
    tmrResetCaption.enabled = true;
    tmrResetCaption.interval = 5000;
    form.cmdDiscover_Click();
    const auto send = indexOf("Winsock1.SendData");
    const auto off = indexOf("tmrResetCaption.Enabled=false");
    const auto interval = indexOf("tmrResetCaption.Interval=5000");
    const auto on = indexOf("tmrResetCaption.Enabled=true");
    EXPECT_LT(send, off);
    EXPECT_LT(off, interval);
    EXPECT_LT(interval, on);
    EXPECT_TRUE(tmrResetCaption.due());
}

TEST_F(Form1Test, discover_afterEarlierResults_emptiesTheBox) {
    answer("10.0.0.1");
    form.cmdDiscover_Click();
    EXPECT_EQ(txtResults.shown(), "");
}

// ---- Arrivals ----

TEST_F(Form1Test, arrivals_threeAnswers_listedInOrderEachEndingInCrLf) {
    form.cmdDiscover_Click();
    answer("192.168.1.20");
    answer("192.168.1.21");
    answer("192.168.1.20");
    EXPECT_EQ(txtResults.shown(),
              "Zorvy found at address: 192.168.1.20\r\n"
              "Zorvy found at address: 192.168.1.21\r\n"
              "Zorvy found at address: 192.168.1.20\r\n");
}

TEST_F(Form1Test, arrival_consumesExactlyOneDatagramOfTheReportedSize) {
    Winsock1.arrive("10.0.0.1", "first");
    Winsock1.arrive("10.0.0.2", "second one");
    form.Winsock1_DataArrival(5);
    EXPECT_EQ(Winsock1.queue.size(), 1u);
    EXPECT_EQ(Winsock1.queue.front().payload, "second one");
    EXPECT_EQ(indexOf("Winsock1.GetData=5"), 0u);
}

TEST_F(Form1Test, arrival_payloadNotExamined_emptyOrForeignStillListed) {
    answer("10.0.0.1", "");
    answer("10.0.0.2", std::string("\0\xff garbage", 10));
    EXPECT_EQ(txtResults.shown(), line("10.0.0.1") + line("10.0.0.2"));
}

TEST_F(Form1Test, arrival_afterTimerFired_isStillAppended) {
    form.cmdDiscover_Click();
    answer("10.0.0.1");
    form.tmrResetCaption_Timer();
    answer("10.0.0.2");
    EXPECT_EQ(txtResults.shown(), line("10.0.0.1") + line("10.0.0.2"));
}

TEST_F(Form1Test, arrival_withUserTextInTheBox_appendsRightAfterIt) {
    txtResults.value = ResultsText("typed by hand");
    answer("10.0.0.3");
    EXPECT_EQ(txtResults.shown(), "typed by hand" + line("10.0.0.3"));
}

TEST_F(Form1Test, arrivals_handTheBoxItsOwnTextGrown_notANewText) {
    for (int i = 0; i < 100; ++i) {
        answer("10.0.0." + std::to_string(i));
    }
    // The first line starts a text; every later one extends the box's own text,
    // which is what lets a real box append instead of replacing everything.
    EXPECT_FALSE(txtResults.grewInPlace.front());
    EXPECT_TRUE(std::all_of(txtResults.grewInPlace.begin() + 1, txtResults.grewInPlace.end(),
                            [](bool b) { return b; }));
}

// ---- Timer ----

TEST_F(Form1Test, timer_disablesItselfAndRestoresTheButton) {
    form.cmdDiscover_Click();
    log.entries.clear();
    form.tmrResetCaption_Timer();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"tmrResetCaption.Enabled=false",
                                                     "cmdDiscover.Caption=Discover",
                                                     "cmdDiscover.Enabled=true"}));
    EXPECT_FALSE(tmrResetCaption.due());
    EXPECT_EQ(txtResults.shown(), "");
    EXPECT_EQ(Winsock1.sent.size(), 1u);
}

// ---- Failures ----

TEST_F(Form1Test, discover_sendFails_endsTheHandlerBeforeTheTimer) {
    log.failOn = "Winsock1.SendData";
    try {
        form.cmdDiscover_Click();
        FAIL() << "the failure was swallowed";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 101);
        EXPECT_EQ(f.description(), "Network is unreachable");
    }
    EXPECT_FALSE(std::any_of(log.entries.begin(), log.entries.end(),
                             [](const std::string& e) { return e.starts_with("tmrResetCaption"); }));
    EXPECT_EQ(cmdDiscover.caption, "Running...");
}

TEST_F(Form1Test, arrival_readFails_leavesTheBoxAlone) {
    txtResults.value = ResultsText("kept");
    log.failOn = "Winsock1.GetData";
    EXPECT_THROW(answer("10.0.0.1"), Failure);
    EXPECT_EQ(txtResults.shown(), "kept");
}

// ---- Exit ----

TEST_F(Form1Test, exitWhileListening_endsWithoutRestoringTheButton) {
    form.cmdDiscover_Click();
    log.entries.clear();
    form.cmdExit_Click();
    EXPECT_EQ(log.entries, std::vector<std::string>{"End"});
    EXPECT_EQ(cmdDiscover.caption, "Running...");
}

}  // namespace
}  // namespace zorvik
