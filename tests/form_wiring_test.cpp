// The one wiring of endpoint, dispatch and Form1 that every program uses, on a
// scripted socket, with the UI thread's event loop played by the test: each
// arrival noted once and listed once, in order, and no failure of a handler,
// of a slice's end or of the receive thread escaping into the event loop.
#include "form_wiring.hpp"

#include <gtest/gtest.h>

#include "endpoint_fakes.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;

struct Controls final : CommandButton, TextBox, Timer, StartupSocketOption {
    ResultsText box;
    int failOnSet = -1;  // the text set that fails, counted from 0
    int sets = 0;
    void setCaption(std::string_view) override {}
    void setEnabled(bool) override {}
    void Refresh() override {}
    ResultsText text() const override { return box; }
    void setText(ResultsText text) override {
        if (sets++ == failOnSet) throw Failure(ENOSPC, "No space left on device");
        box = std::move(text);
    }
    void setInterval(std::int32_t) override {}
    bool apply(std::int32_t) noexcept override { return true; }
};

struct Program {
    Controls controls;
    testing::ScriptedSocket* socket = new testing::ScriptedSocket;
    testing::TestWaker* waker = new testing::TestWaker;
    UdpEndpoint endpoint{{std::unique_ptr<DatagramSocket>(socket), std::unique_ptr<UiWaker>(waker), nullptr}};
    std::vector<int> reported;
    std::optional<int> status;
    EventDispatch dispatch{[this] { endpoint.stop(); }, [this](const Failure& f) { reported.push_back(f.number()); },
                           [this](int code) { status = code; }};
    Form1 form{{controls, controls, controls, endpoint, controls, dispatch}};
    std::vector<std::string> noted;  // each arrival's sender and port, as noted
    int sliceEnds = 0;
    std::function<void()> onSliceEnd;

    Program() {
        wireEndpoint(endpoint, dispatch, form, [this] { ++sliceEnds, onSliceEnd ? onSliceEnd() : void(); },
                     [this](const ReceivedDatagram& arrival) {
                         noted.push_back(dottedAddress(arrival.address) + ':' + std::to_string(swapPortOrder(arrival.port)));
                     });
        dispatch.deliver([this] { form.Form_Load(); });
    }
    // Answers wake-ups as an event loop does, which no failure may reach.
    bool run(const std::function<bool()>& done, std::chrono::milliseconds deadline = 5s) {
        try {
            return waker->run(done, deadline);
        } catch (...) {
            ADD_FAILURE() << "a failure escaped into the event loop";
            return true;
        }
    }
    std::string lines() const { return std::string(controls.box.view()); }
};

TEST(FormWiringTest, everyArrival_notedThenListedOnce_inOrder_andEverySliceShown) {
    Program program;
    ReceiveBatch batch = testing::batchOf(1500);
    for (std::size_t i = 0; i < batch.size(); ++i) batch[i].address = 0x0200000a + static_cast<std::uint32_t>(i << 24);
    program.socket->give(std::move(batch));
    ASSERT_TRUE(program.run([&] { return program.noted.size() == 1500; }));
    ASSERT_TRUE(program.run([&] { return program.sliceEnds >= 2; }));
    std::string expected;
    for (std::size_t i = 0; i < 1500; ++i) {
        ASSERT_EQ(program.noted[i], dottedAddress(0x0200000a + static_cast<std::uint32_t>(i << 24)) + ":4567");
        expected += std::string(protocol::kResultPrefix) + dottedAddress(0x0200000a + static_cast<std::uint32_t>(i << 24)) + "\r\n";
    }
    EXPECT_EQ(program.lines(), expected);
    EXPECT_FALSE(program.status);
}

// Each failure is reported once, through the dispatch, and ends the program:
// nothing more is listed or shown after it.
TEST(FormWiringTest, failureOfAHandler_ofASlicesEnd_orOfTheReceiveThread_isReportedOnce_andEndsTheProgram) {
    {
        Program program;
        program.controls.failOnSet = 2;  // the third arrival's line
        program.socket->give(testing::batchOf(10));
        ASSERT_TRUE(program.run([&] { return program.status.has_value(); }));
        EXPECT_EQ(program.noted.size(), 3u);
        EXPECT_EQ(program.sliceEnds, 0);
        EXPECT_EQ(program.reported, std::vector<int>{ENOSPC});
    }
    {
        Program program;
        program.onSliceEnd = [] { throw Failure(EPIPE, "Broken pipe"); };
        program.socket->give(testing::batchOf(10));
        ASSERT_TRUE(program.run([&] { return program.status.has_value(); }));
        program.socket->give(testing::batchOf(10));
        program.waker->due = true;
        program.run([] { return false; }, 50ms);
        EXPECT_EQ(program.noted.size(), 10u);
        EXPECT_EQ(program.reported, std::vector<int>{EPIPE});
    }
    {
        Program program;
        program.socket->giveFailure(std::make_exception_ptr(Failure(ENETDOWN, "Network is down")));
        ASSERT_TRUE(program.run([&] { return program.status.has_value(); }));
        EXPECT_EQ(program.reported, std::vector<int>{ENETDOWN});
        EXPECT_EQ(program.status, EventDispatch::kFailureStatus);
    }
}

// A callback the wiring makes for a button or a timer runs its handler through the dispatch.
TEST(FormWiringTest, dispatchedCallback_whoseHandlerFails_reportsOnce_andRunsNoMore) {
    Program program;
    int runs = 0;
    const auto click = dispatched(program.dispatch, [&] { ++runs, throw Failure(EACCES, "Permission denied"); });
    click();
    click();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(program.reported, std::vector<int>{EACCES});
}

}  // namespace
}  // namespace zorvik
