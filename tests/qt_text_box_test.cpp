#include "qt_controls.hpp"

#include <gtest/gtest.h>

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

// Found by fuzz/text_box_fuzz.cpp: a CR and the LF after it in two slices showed
// an empty line too many; Qt read a lone CR before a CR LF as one break.
TEST_F(QtTextBoxTest, textsInSlices_showWithLfLineBreaks_andReadBackExactly_thenWithTypedText) {
    const std::vector<std::pair<std::vector<std::string>, QString>> cases = {
        {{"one\r\ntwo\r\n\r\nlone\rcarriage and lone\nfeed\r\nBüro ✓"}, "one\ntwo\n\nlone\ncarriage and lone\nfeed\nBüro ✓"},
        {{"x\r", "\ny"}, "x\ny"}, {{"t\r", "\r\n\no"}, "t\n\n\no"}, {{"o\r\r", "\n!"}, "o\n\n!"}, {{"a\r", "b\r\n"}, "a\nb\n"}};
    for (const auto& [pieces, shown] : cases) {
        box.setText(ResultsText());  // replaces what the last case left
        std::string whole;
        for (const auto& piece : pieces) {
            box.setText(box.text() + piece);
            box.flush();
            whole += piece;
        }
        EXPECT_EQ(box.text().view(), whole);
        EXPECT_EQ(edit.toPlainText(), shown) << ::testing::PrintToString(whole);
        type("!");
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
    const std::string answers(box.text().view());
    type("typed");
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(box.text().view(), answers);
}

TEST_F(QtTextBoxTest, slices_followTheNewestLine_unlessTheUserScrolledBack) {
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
