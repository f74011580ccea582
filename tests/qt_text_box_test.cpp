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

class QtTextBoxTest : public ::testing::Test {
protected:
    QPlainTextEdit edit;
    QtTextBox box{edit};
};

TEST_F(QtTextBoxTest, setText_withCrLf_showsLinesAndReadsBackExactly) {
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

TEST_F(QtTextBoxTest, newText_notExtendingTheOld_replacesIt) {
    box.setText(ResultsText("old\r\n"));
    box.setText(ResultsText("new\r\n"));
    EXPECT_EQ(edit.toPlainText(), "new\n");
    box.setText(ResultsText());
    EXPECT_EQ(edit.toPlainText(), "");
    EXPECT_TRUE(box.text().empty());
}

TEST_F(QtTextBoxTest, longText_tenThousandAppends_keepEveryLineInOrder) {
    for (int i = 0; i < 10000; ++i) {
        box.setText(box.text() + "Zorvy found at address: 10.0." + std::to_string(i / 256) + "." +
                    std::to_string(i % 256) + "\r\n");
    }
    EXPECT_EQ(edit.document()->blockCount(), 10001);
    EXPECT_EQ(edit.document()->findBlockByNumber(9999).text(), "Zorvy found at address: 10.0.39.15");
    EXPECT_EQ(fromWidgetText(edit.toPlainText()), box.text().view());
}

TEST_F(QtTextBoxTest, pastedNonAsciiText_readsAsUtf8) {
    edit.insertPlainText(QString::fromUtf8("Büro ✓"));
    EXPECT_EQ(box.text().view(), "Büro ✓");
}

}  // namespace
}  // namespace zorvik

namespace zorvik {
namespace {

TEST_F(QtTextBoxTest, appends_followTheNewestLine_unlessTheUserScrolledBack) {
    edit.resize(300, 100);
    edit.show();
    auto appendLines = [&](int count) {
        for (int i = 0; i < count; ++i) {
            box.setText(box.text() + "Zorvy found at address: 10.0.0.1\r\n");
        }
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
