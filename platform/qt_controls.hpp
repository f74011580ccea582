#pragma once

#include "controls.hpp"

class QPlainTextEdit;
class QString;
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
// text extends what the widget shows, only the new part goes into the widget,
// and only at flush(): all the lines of a delivery slice in one insertion.
// Texts set by the program are not undoable; Ctrl+Z undoes what the user typed
// since the program last wrote to the box.
class QtTextBox final : public TextBox {
public:
    explicit QtTextBox(QPlainTextEdit& edit);
    ResultsText text() const override;
    void setText(ResultsText text) override;

    // Puts lines appended since the last flush into the widget. Its owner calls
    // it before control returns to the event loop, so no input or paint sees
    // the widget behind the text.
    void flush();

private:
    void append(const QString& lines);

    QPlainTextEdit& edit_;
    mutable ResultsText text_;   // what the logic set or the user typed
    mutable ResultsText shown_;  // what the widget holds; text_ extends it
    mutable bool typedByUser_ = false;
    bool settingText_ = false;
    bool followPending_ = false;
};

}  // namespace zorvik
