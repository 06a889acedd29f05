#pragma once

#include <QDialog>

namespace qeln {

class ConsoleSession;

// Form3: asks before logging out; OK logs out and drops the link.
class LogoutForm : public QDialog {
    Q_OBJECT
public:
    explicit LogoutForm(ConsoleSession &session, QWidget *parent = nullptr);

private:
    void onOkClicked();

    ConsoleSession &session_;
};

} // namespace qeln
