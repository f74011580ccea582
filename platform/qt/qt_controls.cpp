#include "qt_controls.hpp"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include "line_ends.hpp"

namespace zorvik {

void QtCommandButton::setCaption(std::string_view caption) {
    button_.setText(qtText(caption));
}

void QtCommandButton::setEnabled(bool enabled) { button_.setEnabled(enabled); }

// repaint() paints at once, without going through the event loop.
void QtCommandButton::Refresh() { button_.repaint(); }

// The widget's own block limit is not used: it would drop lines one slice at a
// time, apart from the text the logic reads, which drops its front in batches.
QtTextBox::QtTextBox(QPlainTextEdit& edit, std::size_t maxLines) : BufferedTextBox(maxLines), edit_(edit) {
    QObject::connect(&edit_, &QPlainTextEdit::textChanged, [this] { widgetChanged(); });
}

std::string QtTextBox::readWidget() const { return fromWidgetText(edit_.toPlainText()); }

void QtTextBox::replaceWidget(std::string_view text) {
    edit_.setPlainText(toWidgetText(text));  // also empties the undo history
}

void QtTextBox::appendToWidget(std::string_view tail, bool afterCr) {
    // A CR LF split between two texts is one line break, made at the CR.
    if (afterCr && tail.starts_with('\n')) {
        tail.remove_prefix(1);
    }
    if (tail.empty()) {
        return;
    }
    QScrollBar& scroll = *edit_.verticalScrollBar();
    const bool following = scroll.value() == scroll.maximum();
    QTextDocument& document = *edit_.document();
    // Answers are not the user's edits: Ctrl+Z must not take them back, nor the
    // history grow with them. Turning undo off clears it, so what the user typed
    // stays undoable only until the next lines come.
    document.setUndoRedoEnabled(false);
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    end.insertText(toWidgetText(tail));
    document.setUndoRedoEnabled(true);
    // The view follows new lines unless the user has scrolled back to read;
    // once per turn of the event loop is enough, however many lines came.
    if (following && !followPending_) {
        followPending_ = true;
        QTimer::singleShot(0, &edit_, [this] {
            followPending_ = false;
            QScrollBar& bar = *edit_.verticalScrollBar();
            bar.setValue(bar.maximum());
        });
    }
}

void QtTextBox::removeFromWidget(std::string_view front) {
    QScrollBar& scroll = *edit_.verticalScrollBar();
    const bool following = scroll.value() == scroll.maximum();
    const int firstShown = scroll.value();  // in lines, as the widget lays them out
    QTextDocument& document = *edit_.document();
    const auto lines = [&document] { return static_cast<int>(document.documentLayout()->documentSize().height()); };
    const int linesBefore = lines();
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    cursor.setPosition(static_cast<int>(toWidgetText(front).size()), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    document.setUndoRedoEnabled(true);
    // The view stays on the lines the user was reading, or on the newest.
    scroll.setValue(following ? scroll.maximum() : firstShown - (linesBefore - lines()));
}

}  // namespace zorvik
