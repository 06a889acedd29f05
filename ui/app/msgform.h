#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QTimer;

namespace qeln {

// The closing window: shown by the exit command while a TCP link is shut down, with a
// progress bar that creeps on every 300 ms.
class MsgForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int TickMs = 300;

    explicit MsgForm(QWidget *parent = nullptr);

    // Resets the progress, starts the timer and shows the window without waiting.
    void start();
    int closingTicks() const { return closingTicks_; }
    // One timer tick: the bar moves to 10 + the tick count.
    void tick();

private:
    void onTimer1Timeout();

    QLabel *lbMsg_ = nullptr;
    QProgressBar *progressBar1_ = nullptr;
    QTimer *timer1_ = nullptr;
    int closingTicks_ = 0;
};

} // namespace qeln
