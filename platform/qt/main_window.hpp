#pragma once

#include <functional>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

namespace zorvik {

// The window as the user sees it: its caption, its three controls at fixed
// places (scaled with a larger font), and its keyboard order. It holds no
// logic of its own.
class MainWindow final : public QWidget {
public:
    MainWindow();

    QPlainTextEdit txtResults;
    QPushButton cmdDiscover;
    QPushButton cmdExit;

    // Called when the user closes the window.
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void layOut();
};

}  // namespace zorvik
