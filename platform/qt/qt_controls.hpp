#pragma once

#include "buffered_text_box.hpp"
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

// The results box over a QPlainTextEdit, which keeps plain LF line ends.
// Ctrl+Z undoes what the user typed since the program last wrote to the box.
class QtTextBox final : public BufferedTextBox {
public:
    explicit QtTextBox(QPlainTextEdit& edit, std::size_t maxLines = kMaxResultLines);

protected:
    std::string readWidget() const override;
    void replaceWidget(std::string_view text) override;
    void appendToWidget(std::string_view tail, bool afterCr) override;
    void removeFromWidget(std::string_view front) override;

private:
    QPlainTextEdit& edit_;
    bool followPending_ = false;
};

}  // namespace zorvik
