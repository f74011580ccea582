#include "qt_controls.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "line_ends.hpp"
#include "qt_printers.hpp"

namespace zorvik {
namespace {

std::string answer(int i) { return "Zorvy found at address: 10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "\r\n"; }

class QtTextBoxTest : public ::testing::Test {
protected:
    QPlainTextEdit edit;
    QtTextBox box{edit};

    // One delivery slice: the logic appends line by line, reading the box each time.
    void slice(int first, int count) {
        for (int i = first; i < first + count; ++i) {
            const std::string before(box.text().view());
            box.setText(box.text() + answer(i));
            ASSERT_EQ(box.text().view(), before + answer(i));
        }
        box.flush();
    }
    void type(const QString& keys) {
        edit.moveCursor(QTextCursor::End);
        QTest::keyClicks(&edit, keys);
    }
};

TEST_F(QtTextBoxTest, setText_withCrLf_replacesTheOldShowingLinesAndReadsBackExactly) {
    box.setText(ResultsText("old\r\n"));
    box.flush();
    const std::string text = "one\r\ntwo\r\n\r\nlone\rcarriage and lone\nfeed\r\nBüro ✓";
    box.setText(ResultsText(text));
    box.flush();
    EXPECT_EQ(box.text().view(), text);
    // The widget shows a lone CR as a line break too; the text keeps it as it was.
    EXPECT_EQ(edit.toPlainText(), "one\ntwo\n\nlone\ncarriage and lone\nfeed\nBüro ✓");
}

// Found by fuzz/text_box_fuzz.cpp: a CR and the LF after it in two flushed
// appends showed an empty line too many; Qt read a lone CR before a CR LF as one break.
TEST(QtTextBoxLineBreaks, append_crAndLfInSeparateSlices_showsWhatTheWholeTextShows) {
    const std::vector<std::pair<std::vector<std::string>, QString>> cases = {
        {{"x\r", "\ny"}, "x\ny"}, {{"t\r", "\r\n\no"}, "t\n\n\no"},
        {{"o\r\r", "\n!"}, "o\n\n!"}, {{"a\r", "b\r\n"}, "a\nb\n"}};
    for (const auto& [pieces, shown] : cases) {
        QPlainTextEdit edit;
        QtTextBox box(edit);
        for (const auto& piece : pieces) {
            box.setText(box.text() + piece);
            box.flush();
        }
        EXPECT_EQ(edit.toPlainText(), shown) << ::testing::PrintToString(pieces);
        edit.moveCursor(QTextCursor::End);
        QTest::keyClicks(&edit, "!");
        EXPECT_EQ(box.text().view(), fromWidgetText(shown + "!"));
    }
}

TEST_F(QtTextBoxTest, burst_betweenTypedText_listsEveryLineInOrder_inOneInsertionPerSlice) {
    type("before");
    QTest::keyClick(&edit, Qt::Key_Return);
    QSignalSpy changes(edit.document(), &QTextDocument::contentsChange);
    slice(0, 5000);
    EXPECT_EQ(changes.size(), 1) << "the lines of one slice went into the widget one by one";
    slice(5000, 5000);
    type("after");
    std::string expected = "before\r\n";
    for (int i = 0; i < 10000; ++i) expected += answer(i);
    EXPECT_EQ(box.text().view(), expected + "after");
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), expected + "after");
}

TEST_F(QtTextBoxTest, ctrlZ_afterAnswers_keepsThemAndUndoesOnlyWhatTheUserTyped) {
    type("mine");
    slice(0, 3);
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.text().view(), "mine" + answer(0) + answer(1) + answer(2));
    const int steps = edit.document()->availableUndoSteps();
    slice(3, 100);
    EXPECT_LE(edit.document()->availableUndoSteps(), steps) << "the undo history grows with answers";
    type("typed");
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.text().view().substr(box.text().size() - answer(102).size()), answer(102));
}

TEST_F(QtTextBoxTest, appends_followTheNewestLine_unlessTheUserScrolledBack) {
    edit.resize(300, 100);
    edit.show();
    QScrollBar& scroll = *edit.verticalScrollBar();
    slice(0, 200);
    QCoreApplication::processEvents();
    ASSERT_GT(scroll.maximum(), 0);
    EXPECT_EQ(scroll.value(), scroll.maximum());
    scroll.setValue(10);
    slice(200, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll.value(), 10) << "the view jumped away from what the user was reading";
}

}  // namespace
}  // namespace zorvik
