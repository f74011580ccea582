#include "qt_controls.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTest>

#include "line_ends.hpp"
#include "qt_printers.hpp"

namespace zorvik {
namespace {

class QtTextBoxTest : public ::testing::Test {
protected:
    QPlainTextEdit edit;
    QtTextBox box{edit};
};

TEST_F(QtTextBoxTest, setText_withCrLf_replacesTheOldShowingLinesAndReadsBackExactly) {
    box.setText(ResultsText("old\r\n"));
    const std::string text = "one\r\ntwo\r\n\r\nlone\rcarriage and lone\nfeed\r\n";
    box.setText(ResultsText(text));
    EXPECT_EQ(box.text().view(), text);
    // The widget shows a lone CR as a line break too; the text keeps it as it was.
    EXPECT_EQ(edit.toPlainText(), "one\ntwo\n\nlone\ncarriage and lone\nfeed\n");
}

TEST_F(QtTextBoxTest, append_extendingTheText_addsOnlyTheNewPart) {
    box.setText(ResultsText("first\r\n"));
    QSignalSpy changes(edit.document(), &QTextDocument::contentsChange);
    box.setText(box.text() + "second\r\n");
    EXPECT_EQ(edit.toPlainText(), "first\nsecond\n");
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][1].toInt(), 0) << "the widget was reset instead of appended to";
    EXPECT_EQ(changes[0][2].toInt(), 7);
}

// Found by fuzz/text_box_fuzz.cpp: a CR and the LF after it arriving in two
// appends showed an empty line too many, which typing then made part of the text;
// and Qt read a lone CR before a CR LF as one line break, not two.
TEST(QtTextBoxLineBreaks, append_crAndLfInSeparateTexts_showsWhatTheWholeTextShows) {
    const std::vector<std::pair<std::vector<std::string>, QString>> cases = {
        {{"x\r", "\ny"}, "x\ny"}, {{"t\r", "\r\n\no"}, "t\n\n\no"},
        {{"o\r\r", "\n!"}, "o\n\n!"}, {{"a\r", "b\r\n"}, "a\nb\n"}};
    for (const auto& [pieces, shown] : cases) {
        QPlainTextEdit edit;
        QtTextBox box(edit);
        std::string whole;
        for (const auto& piece : pieces) {
            box.setText(box.text() + piece);
            whole += piece;
        }
        EXPECT_EQ(edit.toPlainText(), shown) << ::testing::PrintToString(whole);
        QPlainTextEdit reference;
        QtTextBox(reference).setText(ResultsText(whole));
        EXPECT_EQ(reference.toPlainText(), shown) << ::testing::PrintToString(whole);
    }
}

TEST(QtTextBoxLineBreaks, typing_afterCrLfSplitBetweenAppends_readsOneLineBreak) {
    QPlainTextEdit edit;
    QtTextBox box(edit);
    box.setText(ResultsText("x\r"));
    box.setText(box.text() + "\ny");
    edit.moveCursor(QTextCursor::End);
    QTest::keyClicks(&edit, "!");
    EXPECT_EQ(box.text().view(), "x\r\ny!");
}

TEST_F(QtTextBoxTest, typedText_readsWithCrLfAndIsKeptByTheNextAppend) {
    box.setText(ResultsText("line\r\n"));
    edit.moveCursor(QTextCursor::End);
    QTest::keyClicks(&edit, "typed");
    QTest::keyClick(&edit, Qt::Key_Return);
    QTest::keyClicks(&edit, "more");
    EXPECT_EQ(box.text().view(), "line\r\ntyped\r\nmore");
    box.setText(box.text() + "next\r\n");
    EXPECT_EQ(edit.toPlainText(), "line\ntyped\nmorenext\n");
}

TEST_F(QtTextBoxTest, longText_tenThousandAppends_keepEveryLineInOrder) {
    for (int i = 0; i < 10000; ++i)
        box.setText(box.text() + "Zorvy found at address: 10.0." + std::to_string(i / 256) + "." +
                    std::to_string(i % 256) + "\r\n");
    EXPECT_EQ(edit.document()->blockCount(), 10001);
    EXPECT_EQ(edit.document()->findBlockByNumber(9999).text(), "Zorvy found at address: 10.0.39.15");
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), box.text().view());
}

TEST_F(QtTextBoxTest, pastedNonAsciiText_readsAsUtf8) {
    edit.insertPlainText(QString::fromUtf8("Büro ✓"));
    EXPECT_EQ(box.text().view(), "Büro ✓");
}

TEST_F(QtTextBoxTest, appends_followTheNewestLine_unlessTheUserScrolledBack) {
    edit.resize(300, 100);
    edit.show();
    auto appendLines = [&](int count) {
        while (count-- > 0) box.setText(box.text() + "Zorvy found at address: 10.0.0.1\r\n");
        QCoreApplication::processEvents();
    };
    QScrollBar& scroll = *edit.verticalScrollBar();
    appendLines(200);
    ASSERT_GT(scroll.maximum(), 0);
    EXPECT_EQ(scroll.value(), scroll.maximum());

    scroll.setValue(10);
    appendLines(50);
    EXPECT_EQ(scroll.value(), 10) << "the view jumped away from what the user was reading";
}

}  // namespace
}  // namespace zorvik
