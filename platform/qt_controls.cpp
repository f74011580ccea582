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
        typedByUser_ = false;
    }
    return text_;
}

void QtTextBox::setText(ResultsText text) {
    settingText_ = true;
    if (!typedByUser_ && text.extends(text_)) {
        std::string_view tail = text.suffixAfter(text_);
        // A CR LF split between two texts is one line break, made at the CR.
        if (text_.view().ends_with('\r') && tail.starts_with('\n')) {
            tail.remove_prefix(1);
        }
        append(tail);
    } else {
        edit_.setPlainText(toWidgetText(text.view()));
    }
    settingText_ = false;
    typedByUser_ = false;
    text_ = std::move(text);
}

void QtTextBox::flush() {}

void QtTextBox::append(std::string_view tail) {
    if (tail.empty()) {
        return;
    }
    QScrollBar& scroll = *edit_.verticalScrollBar();
    const bool following = scroll.value() == scroll.maximum();
    QTextCursor end(edit_.document());
    end.movePosition(QTextCursor::End);
    end.insertText(toWidgetText(tail));
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
