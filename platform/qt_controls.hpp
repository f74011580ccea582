#pragma once

#include "controls.hpp"

class QPlainTextEdit;
class QPushButton;

namespace zorvik {

// A push button as the logic sees it.
class QtCommandButton final : public CommandButton {
public:
    explicit QtCommandButton(QPushButton& button) : button_(button) {}
    void setCaption(std::string_view caption) override;
    void setEnabled(bool enabled) override;
    void Refresh() override;

private:
    QPushButton& button_;
};

// A multi-line text box as the logic sees it. Reading gives exactly the text
// last set, or what the user has typed since (Enter reads as CR LF). When a new
// text extends the one the box holds, only the new part goes into the widget,
// so that appending a line costs the line however long the text has grown.
class QtTextBox final : public TextBox {
public:
    explicit QtTextBox(QPlainTextEdit& edit);
    ResultsText text() const override;
    void setText(ResultsText text) override;

    // Puts lines appended since the last flush into the widget.
    void flush();

private:
    void append(std::string_view tail);

    QPlainTextEdit& edit_;
    mutable ResultsText text_;
    mutable bool typedByUser_ = false;
    bool settingText_ = false;
    bool followPending_ = false;
};

}  // namespace zorvik
