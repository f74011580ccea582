// Fuzzes the results box over a real QPlainTextEdit: texts set anew, appended
// to the current or to an older version, and the user's own edits, in any order.
// Checks that what is set reads back exactly, that appending shows the same as
// setting the whole text afresh, and the CR LF conversions' round trips.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "line_ends.hpp"
#include "qt_controls.hpp"

namespace {

using zorvik::fromWidgetText;
using zorvik::toWidgetText;

void require(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "text box: broken: %s\n", invariant);
        std::abort();
    }
}

void requireSame(const QString& shown, const QString& expected, const char* invariant) {
    if (shown != expected) {
        std::fprintf(stderr, "text box: shown:    \"%s\"\ntext box: expected: \"%s\"\n",
                     shown.toUtf8().toPercentEncoding(" ").constData(),
                     expected.toUtf8().toPercentEncoding(" ").constData());
        require(false, invariant);
    }
}

// Qt decodes anything; only valid UTF-8 comes back as the same bytes.
bool isValidUtf8(std::string_view bytes) {
    const QByteArray back = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8();
    return std::string_view(back.constData(), static_cast<std::size_t>(back.size())) == bytes;
}

std::string withoutCr(std::string_view text) {
    std::string result(text);
    std::erase(result, '\r');
    return result;
}

// The text with every line break (CR LF, lone CR, lone LF) written as CR LF.
std::string crLfLines(std::string_view text) {
    std::string result;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\r' || text[at] == '\n') {
            result += "\r\n";
            at += text.substr(at, 2) == "\r\n" ? 1 : 0;
        } else {
            result += text[at];
        }
    }
    return result;
}

// Between the box's CR LF text and the widget's LF text: a valid text comes
// back with its line breaks as CR LF, and so unchanged if they all were; a
// widget text (which never holds a CR) comes back unchanged.
void checkRoundTrips(std::string_view piece) {
    if (isValidUtf8(piece)) {
        const QString shown = toWidgetText(piece);
        require(!shown.contains(QLatin1Char('\r')), "the widget is never given a CR");
        require(fromWidgetText(shown) == crLfLines(piece), "a text reads back with CR LF line breaks");
    }
    const std::string lf = withoutCr(piece);
    const QString widgetText = QString::fromUtf8(lf.data(), static_cast<qsizetype>(lf.size()));
    require(toWidgetText(fromWidgetText(widgetText)) == widgetText, "a widget text survives the box");
}

// What a widget shows after being given `text` all at once.
QString shownAfterReset(QPlainTextEdit& reference, std::string_view text) {
    reference.setPlainText(toWidgetText(text));
    return reference.toPlainText();
}

enum class Step {
    Set,
    Append,
    AppendToOlder,
    KeepOlder,
    UserInsert,
    UserDelete,
    RunEvents,
    kMaxValue = RunEvents
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Offscreen, Qt warns about fonts it cannot shape text with: noise here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorvik;
    FuzzedDataProvider input(data, size);
    QPlainTextEdit edit;
    QPlainTextEdit reference;
    QtTextBox box(edit);
    bool edited = false;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&edited] { edited = true; });
    ResultsText older;
    // The box's text; unknown after a user's edit until the box is read, which
    // is left out at times: a text set without reading first takes another path.
    std::optional<std::string> known = std::string();
    // Whether every piece the widget got since its last reset was valid UTF-8
    // (a character split between two pieces shows as two U+FFFD): then
    // appending must show exactly what a reset to the whole text would, even
    // with a CR LF split between two pieces.
    bool whole = true;

    while (input.remaining_bytes() > 0) {
        const Step step = input.ConsumeEnum<Step>();
        const std::string piece = input.ConsumeRandomLengthString(256);
        checkRoundTrips(piece);
        switch (step) {
        case Step::Set:
            box.setText(ResultsText(piece));
            require(box.text().view() == piece, "a new text reads back exactly");
            whole = isValidUtf8(piece);
            known = piece;
            break;
        case Step::Append: {
            const ResultsText current = box.text();
            box.setText(current + piece);
            require(box.text().view() == std::string(current.view()) + piece,
                    "an appended text reads back exactly");
            whole = (known ? whole : true) && isValidUtf8(piece);
            known = std::string(current.view()) + piece;
            break;
        }
        case Step::AppendToOlder: {
            const std::string expected = std::string(older.view()) + piece;
            // Only an older version that is still the box's text can be appended
            // to; any other replaces the widget's text.
            const bool mayAppend = known && *known == older.view();
            box.setText(older + piece);
            require(box.text().view() == expected, "an older version appended to reads back exactly");
            whole = mayAppend ? whole && isValidUtf8(piece) : isValidUtf8(expected);
            known = expected;
            break;
        }
        case Step::KeepOlder:
            older = box.text();
            known = std::string(older.view());
            break;
        case Step::UserInsert:
        case Step::UserDelete: {
            // The cursor moves as the user's would, never into a surrogate pair.
            QTextCursor cursor(edit.document());
            edited = false;
            const int length = std::max(edit.document()->characterCount() - 1, 0);
            cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor,
                                input.ConsumeIntegralInRange(0, length));
            if (step == Step::UserInsert) {
                edit.setTextCursor(cursor);
                edit.insertPlainText(QString::fromUtf8(piece.data(), static_cast<qsizetype>(piece.size())));
            } else {
                const auto direction = input.ConsumeBool() ? QTextCursor::NextCharacter
                                                           : QTextCursor::PreviousCharacter;
                cursor.movePosition(direction, QTextCursor::KeepAnchor,
                                    input.ConsumeIntegralInRange(0, length));
                cursor.removeSelectedText();
            }
            if (!edited) {
                break;  // nothing changed, not even for the box
            }
            // The widget's text is the truth now.
            known.reset();
            whole = true;
            if (input.ConsumeBool()) {
                known = std::string(box.text().view());
                requireSame(edit.toPlainText(), shownAfterReset(reference, *known),
                            "what the user typed reads back as the widget shows it");
            }
            break;
        }
        case Step::RunEvents:
            QCoreApplication::processEvents();
            break;
        }
        if (whole && known) {
            requireSame(edit.toPlainText(), shownAfterReset(reference, *known),
                        "appending shows what setting the whole text shows");
        }
    }
    return 0;
}
