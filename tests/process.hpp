#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QProcess>

namespace zorvik::testing {

// A built program: ctest sets ZORVIK_BIN to build/bin. Also scripts/lan, and
// arguments for bash to run a script in the programs' directory.
inline QString bin(const char* name) { return qEnvironmentVariable("ZORVIK_BIN") + '/' + name; }
inline QString lan() { return ZORVIK_LAN; }
inline QStringList inBin(const QString& script) { return {"-c", "cd \"$ZORVIK_BIN\" && " + script}; }
// Arguments for bash to run a built program as on a stock kernel, whose receive
// buffers are a fraction of this host's (tools/stock-kernel), with `settings`.
inline QStringList onStockKernel(const QString& program, const QString& settings = {}) {
    return inBin("LD_PRELOAD=\"$PWD/libzorvik-stock-kernel.so\" ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" " +
                 settings + " exec " + program);
}

// A program run by a test, stdin empty, output collected, killed at the end; every wait bounded.
class Process : public QProcess {
public:
    explicit Process(const QString& path, const QStringList& args = {}, const QString& outFile = {}) {
        setStandardInputFile(nullDevice());
        if (!outFile.isEmpty()) setStandardOutputFile(outFile);
        start(path, args);
        EXPECT_TRUE(waitForStarted(5000)) << path.toStdString() << ": " << errorString().toStdString();
    }
    ~Process() override { kill(); waitForFinished(5000); }

    // The exit status once it has ended (-1 by a signal); one running past `ms` is killed and fails the test.
    int finish(int ms = 20000) {
        if (!waitForFinished(ms)) ADD_FAILURE() << program().toStdString() << " ran over " << ms << " ms";
        kill();
        waitForFinished(5000);
        out += readAllStandardOutput().toStdString();
        err += readAllStandardError().toStdString();
        return exitStatus() == NormalExit ? exitCode() : -1;
    }

    std::string out, err;
};

// Simulated devices (zorvik-device-sim with `args`), listening once this returns.
inline std::unique_ptr<Process> startDevices(const QStringList& args) {
    auto sim = std::make_unique<Process>(bin("zorvik-device-sim"), args);
    EXPECT_TRUE(sim->waitForReadyRead(5000) && sim->readLine().startsWith("zorvik-device-sim: ready"))
        << sim->readAllStandardError().toStdString();
    return sim;
}

}  // namespace zorvik::testing
