// Fuzzes the results box over a real QPlainTextEdit: texts set, appended, flushed and
// edited by the user; it must read back exactly and, flushed, show the whole text,
// but for the oldest lines past a small limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QPlainTextEdit>

#include "line_ends.hpp"
#include "qt_controls.hpp"

namespace {

void require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "text box: broken: %s\n", invariant);
    std::abort();
}

// Qt decodes anything; only valid UTF-8 comes back as the same bytes.
bool isUtf8(const std::string& bytes) { return QString::fromStdString(bytes).toStdString() == bytes; }

constexpr std::size_t kLimit = 12;

// `text` as the box keeps it: past the limit, only the newest lines but a fiftieth.
std::string kept(const std::string& text) {
    std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (lines <= kLimit) return text;
    std::size_t cut = 0;
    for (lines -= kLimit - kLimit / 50; lines > 0; --lines) cut = text.find('\n', cut) + 1;
    return text.substr(cut);
}

enum class Step { Set, Append, AppendToOlder, KeepOlder, Flush, UserEdit, kMaxValue = UserEdit };

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});  // font noise
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorvik;
    FuzzedDataProvider input(data, size);
    QPlainTextEdit edit, reference;
    QtTextBox box(edit, kLimit);
    ResultsText older;
    std::string expected;  // the box's text, as set or typed
    bool valid = true;     // all pieces since the last reset valid UTF-8 (a split character shows as two U+FFFD)
    bool edited = false;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&edited] { edited = true; });
    while (input.remaining_bytes() > 0) {
        const auto step = input.ConsumeEnum<Step>();
        const std::string piece = input.ConsumeRandomLengthString(256);
        if (step == Step::Set || step == Step::Append || step == Step::AppendToOlder) {
            const ResultsText base = step == Step::Set ? ResultsText() : step == Step::Append ? box.text() : older;
            const bool grows = step == Step::Append || (step == Step::AppendToOlder && older.view() == expected);
            expected = std::string(base.view()) + piece;
            valid = grows ? valid && isUtf8(piece) : isUtf8(expected);
            box.setText(base + piece);
        } else if (step == Step::KeepOlder) {
            older = box.text();
        } else if (step == Step::UserEdit) {
            box.flush();  // as the endpoint does before any input
            expected = kept(expected);
            edited = false;
            QTextCursor cursor(edit.document());
            const int length = edit.document()->characterCount() - 1;
            cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, input.ConsumeIntegralInRange(0, length));
            cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, input.ConsumeIntegralInRange(0, length));
            cursor.insertText(QString::fromStdString(piece));
            if (edited) {
                expected = fromWidgetText(edit.toPlainText());
                valid = true;
                if (input.ConsumeBool()) continue;  // unread, the next text set replaces the widget's
            }
        }
        // A text that replaces the widget's loses its oldest lines at once, others at the next flush.
        if (box.text().view() != expected) expected = kept(expected);
        require(box.text().view() == expected, "the box reads back exactly what was set or typed, within the limit");
        if (step == Step::Flush) {
            box.flush();
            expected = kept(expected);
            require(box.text().view() == expected, "a flushed box holds the newest lines within the limit");
            reference.setPlainText(toWidgetText(expected));
            require(!valid || edit.toPlainText() == reference.toPlainText(), "a flushed box shows the whole text");
        }
    }
    return 0;
}
