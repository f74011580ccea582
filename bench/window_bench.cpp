// zorvik-bench-window MODE N: the desktop window under a burst of answers,
// offscreen, and the floors it is measured against.
//   window N   press Discover; time from the first line listed to the N-th,
//              CPU from the press, and the longest gap between two additions
//              of lines while answers waited
//   widget N   the floor: N lines inserted at the end of a bare text widget of
//              the same size, in slices with the event loop between, the view
//              kept on the newest line after each slice, as the window does
//   exit N     press Discover, then press Exit while the burst is being listed;
//              time from the press reaching the event queue to the program's end
//   cost N     the cost of one answer with N lines already listed
//   flood S    press Discover, then two threads send empty datagrams to the
//              window's port as fast as they can for S seconds; peak memory by
//              the flood's end, and seconds from its end to the last line listed
//              and to the CPU going idle
//   memory N   press Discover, which a simulator answers with N answers; lines
//              listed, and resident memory at its peak, halfway and at the end
//              (memory_samples.hpp)
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include "form1.hpp"
#include "growth_watch.hpp"
#include "measure.hpp"
#include "memory_samples.hpp"
#include "protocol.hpp"
#include "qt_controls.hpp"
#include "window_program.hpp"

namespace zorvik::bench {
namespace {

constexpr auto kSlice = std::chrono::milliseconds(5);
constexpr int kIdleLimitMs = 3000;

std::string answerLine(long i) {
    return std::string(protocol::kResultPrefix) + "127.0." + std::to_string((i / 250) % 250) + "." +
           std::to_string(2 + i % 250) + "\n";
}

// Counts paints of a widget.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    long paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Watches the listed lines of a text widget: when the first came, when the
// last, and when nothing has come for a while. Once the box is full its
// oldest lines leave as new ones come, so only what is added counts.
struct ListingClock {
    explicit ListingClock(QPlainTextEdit& edit, long target) {
        QObject::connect(edit.document(), &QTextDocument::blockCountChanged, [this, target](int now) {
            lines += std::max(0, now - blocks);
            blocks = now;
            last = Clock::now();
            if (!first) {
                first = last;
            }
            if (lines >= target) {
                QCoreApplication::exit(0);
            }
        });
        idle.setInterval(250);
        QObject::connect(&idle, &QTimer::timeout, [this] {
            if (first && millisecondsBetween(last, Clock::now()) > kIdleLimitMs) {
                QCoreApplication::exit(0);
            }
        });
        idle.start();
    }
    long lines = 0;
    int blocks = 1;  // an empty document has one
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    QTimer idle;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuMilliseconds(usage) / 1000.0;
}

// How many datagrams the program has taken in, as a preloaded counter keeps
// them in the file ZORVIK_BENCH_RECEIVED; -1 without it.
class ReceivedCount {
public:
    ReceivedCount() {
        if (const char* path = std::getenv("ZORVIK_BENCH_RECEIVED")) file_ = open(path, O_RDONLY | O_CLOEXEC);
    }
    ~ReceivedCount() {
        if (file_ >= 0) close(file_);
    }
    ReceivedCount(const ReceivedCount&) = delete;
    ReceivedCount& operator=(const ReceivedCount&) = delete;

    std::int64_t now() const {
        std::int64_t count = -1;
        return file_ >= 0 && pread(file_, &count, sizeof count, 0) == sizeof count ? count : -1;
    }

private:
    int file_ = -1;
};

bool kernelQueueHolds(int socket) {
    int next = 0;  // the size of the next datagram; answers are never empty
    return ioctl(socket, FIONREAD, &next) == 0 && next > 0;
}

int runWindow(long n, bool pressExit) {
    std::optional<Clock::time_point> exitPosted;
    std::optional<Clock::time_point> ended;
    WindowProgram program([&](int) {
        ended = Clock::now();
        QCoreApplication::exit(0);
    });
    program.start();
    MainWindow& window = program.window();
    PaintCounter paints(*window.txtResults.viewport());
    ListingClock clock(window.txtResults, n);
    const int socket = program.endpoint().SocketHandle();
    const ReceivedCount received;
    GrowthWatch growth([&](long listed) { return received.now() > listed || kernelQueueHolds(socket); });
    QObject::connect(window.txtResults.document(), &QTextDocument::blockCountChanged,
                     [&growth](int blocks) { growth.listed(blocks - 1); });
    const long before = residentKiB();
    const double cpuBefore = cpuSeconds();
    window.cmdDiscover.click();
    // A probe that met no simulator is answered by none: give up rather than wait for ever.
    QTimer::singleShot(std::chrono::seconds(30), [&clock] {
        if (!clock.first) QCoreApplication::exit(0);
    });

    QTimer exitPress;
    if (pressExit) {
        // Once a tenth of the burst is listed, press Exit through the event queue.
        exitPress.setInterval(1);
        QObject::connect(&exitPress, &QTimer::timeout, [&] {
            if (clock.lines >= n / 10 && !exitPosted) {
                const QPointF centre(window.cmdExit.width() / 2.0, window.cmdExit.height() / 2.0);
                QCoreApplication::postEvent(&window.cmdExit, new QMouseEvent(QEvent::MouseButtonPress, centre, centre,
                                                                             Qt::LeftButton, Qt::LeftButton, {}));
                QCoreApplication::postEvent(&window.cmdExit, new QMouseEvent(QEvent::MouseButtonRelease, centre,
                                                                             centre, Qt::LeftButton, {}, {}));
                exitPosted = Clock::now();
                exitPress.stop();
            }
        });
        exitPress.start();
    }
    QApplication::exec();
    const double longestGap = growth.stop();

    if (pressExit) {
        report("exit_ms=" + std::to_string(exitPosted && ended ? millisecondsBetween(*exitPosted, *ended) : -1.0) +
               " listed_at_exit=" + std::to_string(clock.lines));
        return 0;
    }
    const double ms = clock.first ? millisecondsBetween(*clock.first, clock.last) : 0.0;
    report("listed=" + std::to_string(clock.lines) + " lost=" + std::to_string(n - clock.lines) +
           " ms=" + std::to_string(ms) + " peak_kib=" + std::to_string(peakResidentKiB()) +
           " grown_kib=" + std::to_string(residentKiB() - before) +
           " paints_per_s=" + std::to_string(ms > 0 ? static_cast<double>(paints.paints) * 1000.0 / ms : 0.0) +
           " cpu_ms=" + std::to_string((cpuSeconds() - cpuBefore) * 1000.0 - growth.watcherCpuMilliseconds()) +
           " max_gap_ms=" + std::to_string(longestGap) + " received=" + std::to_string(received.now()) +
           " rcvbuf=" + std::to_string(grantedReceiveBuffer(socket)));
    return 0;
}

int runWidgetFloor(long n) {
    MainWindow window;  // the same widget, size and place
    window.show();
    PaintCounter paints(*window.txtResults.viewport());
    const long before = residentKiB();
    long appended = 0;
    Clock::time_point start{};
    Clock::time_point end{};
    QTimer slice;
    slice.setInterval(0);
    QObject::connect(&slice, &QTimer::timeout, [&] {
        if (appended == 0) {
            start = Clock::now();
        }
        const auto deadline = Clock::now() + kSlice;
        QTextCursor cursor(window.txtResults.document());
        while (appended < n && Clock::now() < deadline) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(QString::fromStdString(answerLine(appended++)));
        }
        QScrollBar& scroll = *window.txtResults.verticalScrollBar();
        scroll.setValue(scroll.maximum());
        if (appended == n) {
            end = Clock::now();
            QCoreApplication::exit(0);
        }
    });
    slice.start();
    QApplication::exec();
    const double ms = millisecondsBetween(start, end);
    report("listed=" + std::to_string(appended) + " lost=0 ms=" + std::to_string(ms) +
           " peak_kib=" + std::to_string(peakResidentKiB()) + " grown_kib=" + std::to_string(residentKiB() - before) +
           " paints_per_s=" + std::to_string(static_cast<double>(paints.paints) * 1000.0 / ms));
    return 0;
}

// An endpoint whose every datagram is an answer from the next address.
class AnsweringEndpoint final : public DatagramEndpoint {
public:
    void setProtocol(std::int32_t) override {}
    std::int32_t SocketHandle() const override { return -1; }
    void setRemotePort(std::int32_t) override {}
    void setRemoteHost(std::string_view) override {}
    void SendData(std::string_view) override {}
    void GetData(std::string& data, DataType, std::int32_t) override { data = "ZV"; }
    std::string RemoteHostIP() const override {
        ++next_;
        return "10." + std::to_string(next_ >> 16 & 255) + "." + std::to_string(next_ >> 8 & 255) + "." +
               std::to_string(next_ & 255);
    }

private:
    mutable long next_ = 0;
};

// Median microseconds per answer over batches, with `lines` already listed;
// each batch goes into the widget at its end, as a delivery slice's lines do.
[[gnu::noinline]] double measureAnswers(Form1& form, QtTextBox& box) {
    std::vector<double> batches;
    for (int b = 0; b < 9; ++b) {
        const auto start = Clock::now();
        for (int i = 0; i < 200; ++i) {
            form.Winsock1_DataArrival(2);
        }
        box.flush();
        batches.push_back(millisecondsBetween(start, Clock::now()) * 1000.0 / 200);
        QCoreApplication::processEvents();
    }
    std::sort(batches.begin(), batches.end());
    return batches[batches.size() / 2];
}

int runAnswerCost(long lines) {
    MainWindow window;
    window.show();
    QtTextBox txtResults(window.txtResults);
    QtCommandButton cmdDiscover(window.cmdDiscover);
    QtTimer timer([] {});
    AnsweringEndpoint endpoint;
    struct : StartupSocketOption {
        bool apply(std::int32_t) noexcept override { return true; }
    } option;
    struct : Program {
        void End() override {}
    } program;
    Form1 form({cmdDiscover, txtResults, timer, endpoint, option, program});

    for (long i = 0; i < lines; ++i) {
        form.Winsock1_DataArrival(2);
    }
    txtResults.flush();
    QCoreApplication::processEvents();
    report("us_per_answer=" + std::to_string(measureAnswers(form, txtResults)));
    return 0;
}

int runFlood(long seconds) {
    WindowProgram program([](int) {});
    program.start();
    ListingClock clock(program.window().txtResults, LONG_MAX);
    program.window().cmdDiscover.click();
    std::atomic<bool> flooding = true;
    std::atomic<long> sent = 0;
    const auto send = [&, port = program.endpoint().localPort()] {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        while (flooding) {
            sent += sendto(fd, nullptr, 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
        }
        close(fd);
    };
    std::vector<std::jthread> senders(2);
    for (auto& sender : senders) sender = std::jthread(send);

    Clock::time_point end{};
    long peakDuring = 0;
    std::optional<double> idleSeconds;
    double lastCpu = 0;
    Clock::time_point lastSample{};
    QTimer::singleShot(std::chrono::seconds(seconds), [&] {
        flooding = false;
        senders.clear();
        end = Clock::now();
        peakDuring = peakResidentKiB();
        lastCpu = cpuSeconds();
        lastSample = end;
    });
    // Idle: under a tenth of a core over a quarter second.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (flooding || idleSeconds) return;
        const double cpu = cpuSeconds();
        const double ms = millisecondsBetween(lastSample, Clock::now());
        if (ms < 200) return;
        if (cpu - lastCpu < ms / 10000) idleSeconds = millisecondsBetween(end, lastSample) / 1000.0;
        lastCpu = cpu;
        lastSample = Clock::now();
    });
    sampler.start(250);
    QTimer::singleShot(std::chrono::seconds(seconds + 60), [] { QCoreApplication::exit(0); });
    QApplication::exec();
    report("sent=" + std::to_string(sent) + " listed=" + std::to_string(clock.lines) +
           " peak_kib=" + std::to_string(peakDuring) +
           " listed_s=" + std::to_string(std::max(0.0, millisecondsBetween(end, clock.last) / 1000.0)) +
           " idle_s=" + std::to_string(idleSeconds.value_or(-1)));
    return 0;
}

int runMemory(long n) {
    WindowProgram program([](int) {});
    program.start();
    QPlainTextEdit& edit = program.window().txtResults;
    ListingClock clock(edit, LONG_MAX);
    std::vector<Sample> samples;
    std::jthread sampler([&](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            samples.push_back({Clock::now(), residentKiB()});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    program.window().cmdDiscover.click();
    QTimer::singleShot(std::chrono::seconds(30), [&clock] {
        if (!clock.first) QCoreApplication::exit(0);
    });
    QApplication::exec();
    sampler.request_stop();
    sampler.join();
    if (!clock.first) {
        report("listed=0");
        return 0;
    }
    const SecondHalf second = secondHalf(samples, *clock.first, clock.last);
    report("answers=" + std::to_string(n) + " listed=" + std::to_string(clock.lines) +
           " kept=" + std::to_string(clock.blocks - 1) +
           " s=" + std::to_string(millisecondsBetween(*clock.first, clock.last) / 1000.0) +
           " peak_kib=" + std::to_string(peakResidentKiB()) + " half_kib=" + std::to_string(second.halfKiB) +
           " end_kib=" + std::to_string(second.endKiB) + " growth_kib=" + std::to_string(second.growthKiB));
    return 0;
}

}  // namespace
}  // namespace zorvik::bench

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const long n = argc > 2 ? std::atol(argv[2]) : 0;
    if (mode == "window" && n > 0) return zorvik::bench::runWindow(n, false);
    if (mode == "exit" && n > 0) return zorvik::bench::runWindow(n, true);
    if (mode == "widget" && n > 0) return zorvik::bench::runWidgetFloor(n);
    if (mode == "cost" && n > 0) return zorvik::bench::runAnswerCost(n);
    if (mode == "flood" && n > 0) return zorvik::bench::runFlood(n);
    if (mode == "memory" && n > 0) return zorvik::bench::runMemory(n);
    std::fprintf(stderr, "usage: zorvik-bench-window window|widget|exit|cost|flood|memory N\n");
    return 2;
}
