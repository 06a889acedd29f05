#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qeln {

class ConsoleSession;

// frmRecControl: the operator's password. A wrong password confirmed with the button
// closes the dialog (the operator opens it again to retry); confirmed with Enter it keeps
// the dialog open with the text in the field.
class LoginForm : public QDialog {
    Q_OBJECT
public:
    explicit LoginForm(ConsoleSession &session, QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // True when the password matched and the session logged in.
    bool checkPassword(QWidget *messageParent);
    void onOkClicked();
    void onReturnPressed();

    ConsoleSession &session_;
    QLabel *label1_;
    QLineEdit *pwInput_;
    QPushButton *okButton_;
    QPushButton *closeButton_;
};

} // namespace qeln
