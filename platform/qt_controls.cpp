#include "qt_controls.hpp"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include "line_ends.hpp"

namespace zorvik {

void QtCommandButton::setCaption(std::string_view caption) {
    button_.setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
}

void QtCommandButton::setEnabled(bool enabled) { button_.setEnabled(enabled); }

// repaint() paints at once, without going through the event loop.
void QtCommandButton::Refresh() { button_.repaint(); }

QtTextBox::QtTextBox(QPlainTextEdit& edit) : edit_(edit) {
    QObject::connect(&edit_, &QPlainTextEdit::textChanged, [this] {
        if (!settingText_) {
            typedByUser_ = true;
        }
    });
}

ResultsText QtTextBox::text() const {
    if (typedByUser_) {
        text_ = ResultsText(fromWidgetText(edit_.toPlainText()));
        shown_ = text_;
        typedByUser_ = false;
    }
    return text_;
}

void QtTextBox::setText(ResultsText text) {
    // A text that grows what the widget shows waits for flush(); any other
    // (an empty box, or a text set over the user's typing) replaces it at once.
    if (typedByUser_ || !text.extends(shown_)) {
        settingText_ = true;
        edit_.setPlainText(toWidgetText(text.view()));  // also empties the undo history
        settingText_ = false;
        shown_ = text;
    }
    typedByUser_ = false;
    text_ = std::move(text);
}

void QtTextBox::flush() {
    std::string_view tail = text_.suffixAfter(shown_);
    // A CR LF split between two texts is one line break, made at the CR.
    if (shown_.view().ends_with('\r') && tail.starts_with('\n')) {
        tail.remove_prefix(1);
    }
    shown_ = text_;
    if (!tail.empty()) {
        append(toWidgetText(tail));
    }
}

void QtTextBox::append(const QString& lines) {
    QScrollBar& scroll = *edit_.verticalScrollBar();
    const bool following = scroll.value() == scroll.maximum();
    QTextDocument& document = *edit_.document();
    // Answers are not the user's edits: Ctrl+Z must not take them back, nor the
    // history grow with them. Turning undo off clears it, so what the user typed
    // stays undoable only until the next lines come.
    document.setUndoRedoEnabled(false);
    settingText_ = true;
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    end.insertText(lines);
    settingText_ = false;
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
