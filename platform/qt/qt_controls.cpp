#include "qt_controls.hpp"

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

QtTextBox::QtTextBox(QPlainTextEdit& edit) : edit_(edit) {
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

}  // namespace zorvik
