#include "qt_controls.hpp"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTest>

#include "line_ends.hpp"
#include "qt_printers.hpp"

namespace zorvik {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += line;
    return all;
}

std::vector<std::string> answers(int first, int count) {
    std::vector<std::string> lines;
    for (int i = first; i < first + count; ++i) lines.push_back("Zorvy found at address: 10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "\r\n");
    return lines;
}

class QtTextBoxTest : public ::testing::Test {
protected:
    QPlainTextEdit edit;
    QtTextBox box{edit, 100};  // a small limit: past 100 lines it keeps 98

    // One delivery slice: each text appended to what the box reads, exact mid-slice too.
    std::string slice(const std::vector<std::string>& texts) {
        for (const auto& text : texts) {
            const ResultsText before = box.text();
            box.setText(before + text);
            EXPECT_EQ(box.text().view(), std::string(before.view()) + text);
        }
        box.flush();
        return std::string(box.text().view());
    }
    void type(const QString& keys) { edit.moveCursor(QTextCursor::End); QTest::keyClicks(&edit, keys); }
};

// Found by fuzzing: a CR LF split between slices showed an extra line; Qt read a lone CR before a CR LF as one break.
TEST_F(QtTextBoxTest, slices_showLfLineBreaksAsTheWholeTextWould_andReadTypedTextWithCrLf) {
    const std::vector<std::pair<std::vector<std::string>, QString>> cases = {
        {{"one\r\ntwo\r\n\r\nlone\rcarriage and lone\nfeed\r\nBüro ✓"}, "one\ntwo\n\nlone\ncarriage and lone\nfeed\nBüro ✓"},
        {{"x\r", "\ny"}, "x\ny"}, {{"t\r", "\r\n\no"}, "t\n\n\no"}, {{"o\r\r", "\n!"}, "o\n\n!"}, {{"a\r", "b\r\n"}, "a\nb\n"}};
    for (const auto& [pieces, shown] : cases) {
        box.setText(ResultsText());  // replaces what the last case left
        for (const auto& piece : pieces) slice({piece});
        EXPECT_EQ(edit.toPlainText(), shown);
        type("!");
        EXPECT_EQ(box.text().view(), fromWidgetText(shown + "!"));
    }
}

TEST_F(QtTextBoxTest, burst_betweenTypedText_listsEveryLineInOrderInOneInsertion_followedUnlessScrolledBack) {
    QtTextBox large(edit);  // the real limit, far beyond this burst
    const auto slice = [&](const std::vector<std::string>& texts) {
        for (const auto& text : texts) large.setText(large.text() + text);
        large.flush();
        return std::string(large.text().view());
    };
    edit.resize(300, 100);
    edit.show();
    QScrollBar& scroll = *edit.verticalScrollBar();
    type("before");
    QSignalSpy changes(edit.document(), &QTextDocument::contentsChange);
    slice(answers(0, 9000));
    EXPECT_EQ(changes.size(), 1) << "the lines of one slice went into the widget one by one";
    QCoreApplication::processEvents();
    EXPECT_TRUE(scroll.maximum() > 0 && scroll.value() == scroll.maximum()) << "the view did not follow";
    scroll.setValue(10);
    const std::string listed = slice(answers(9000, 1000));
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll.value(), 10) << "the view jumped away from what the user was reading";
    type("after");
    EXPECT_EQ(large.text().view(), listed + "after");
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), listed + "after");
    EXPECT_EQ(large.text().view().substr(0, 6), "before") << "the real limit is below 10,001 lines";
}

// As a terminal's scrollback: past the limit the oldest lines, typed ones too, leave the
// text and the widget together; the view and the selection stay on the text the user reads.
TEST_F(QtTextBoxTest, pastTheLimit_oldestLinesLeaveTextAndWidget_newestKeptInOrder_viewAndSelectionStay) {
    static_assert(kMaxResultLines > 100'000, "the box must hold the largest discovery");
    edit.resize(300, 100);
    edit.show();
    type("typed");
    QTest::keyClick(&edit, Qt::Key_Return);
    slice(answers(0, 99));
    EXPECT_EQ(box.text().view(), "typed\r\n" + joined(answers(0, 99))) << "at the limit, nothing leaves";
    slice(answers(99, 1));
    EXPECT_EQ(box.text().view(), joined(answers(2, 98))) << "the typed line and the oldest answers stay";
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), box.text().view());
    slice(answers(100, 110));  // more than the widget shows: the text replaces it
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), joined(answers(112, 98)));
    type("mine");  // typed, unended: joins the next line
    slice(answers(210, 2));
    EXPECT_EQ(box.text().view(), joined(answers(112, 98)) + "mine" + joined(answers(210, 2)));

    QScrollBar& scroll = *edit.verticalScrollBar();
    QCoreApplication::processEvents();
    scroll.setValue(scroll.minimum() + 5);  // reading back
    const auto topLine = [&] { return edit.cursorForPosition({1, 1}).block().text(); };
    QTextCursor selection = edit.textCursor();
    selection.setPosition(edit.document()->findBlockByNumber(7).position());
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    edit.setTextCursor(selection);
    const QString reading = topLine();
    const QString selected = edit.textCursor().selectedText();
    slice(answers(212, 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), box.text().view());
    EXPECT_EQ(box.text().view(), joined(answers(115, 95)) + "mine" + joined(answers(210, 3)));
    EXPECT_EQ(topLine(), reading) << "the view moved off what the user was reading";
    EXPECT_EQ(edit.textCursor().selectedText(), selected);
    scroll.setValue(scroll.maximum());
    slice(answers(213, 3));
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll.value(), scroll.maximum()) << "the view stopped following the newest line";
    std::string typed;
    for (int i = 0; i < 100; ++i) {
        type(QString::number(i)), QTest::keyClick(&edit, Qt::Key_Return);
        if (i >= 2) typed += std::to_string(i) + "\r\n";
    }
    box.flush();  // typed lines alone past the limit, unread since
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), typed);
    EXPECT_EQ(edit.document()->availableUndoSteps(), 0) << "Ctrl+Z would bring back lines the box no longer holds";
}

TEST_F(QtTextBoxTest, ctrlZ_afterAnswers_keepsThemAndUndoesOnlyWhatTheUserTyped) {
    type("mine");
    for (const auto& line : answers(0, 100)) slice({line});
    const std::string listed(box.text().view());
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.text().view(), listed);
    EXPECT_EQ(edit.document()->availableUndoSteps(), 0) << "the undo history grows with answers";
    type("typed");
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.text().view(), listed);
}

}  // namespace
}  // namespace zorvik
