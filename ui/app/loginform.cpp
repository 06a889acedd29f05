#include "loginform.h"

#include "common/messagebox.h"
#include "app/consolesession.h"

#include <QKeyEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qeln {

namespace {

const QString TryAgain = QStringLiteral(" Please try again ");

// The box does not hold up the caller: it is shown and cleans up after itself.
void showMessage(QWidget *parent, const QString &text)
{
    openMessageBox(parent, QMessageBox::NoIcon, QString(), text);
}

} // namespace

LoginForm::LoginForm(ConsoleSession &session, QWidget *parent)
    : QDialog(parent)
    , session_(session)
    , label1_(new QLabel(QStringLiteral("암호"), this))
    , pwInput_(new QLineEdit(this))
    , okButton_(new QPushButton(QStringLiteral("로그인"), this))
    , closeButton_(new QPushButton(QStringLiteral("닫기"), this))
{
    setObjectName(QStringLiteral("frmRecControl"));
    setWindowTitle(QStringLiteral("로그인"));

    // No user name is asked for; the fields exist but take no part.
    auto *idLabel = new QLabel(QStringLiteral("ID "), this);
    idLabel->setObjectName(QStringLiteral("lbLCB"));
    idLabel->hide();
    auto *idInput = new QLineEdit(this);
    idInput->setObjectName(QStringLiteral("ID_Input"));
    idInput->hide();

    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->installEventFilter(this);
    pwInput_->setObjectName(QStringLiteral("PW_Input"));
    okButton_->setObjectName(QStringLiteral("bbtnOK"));
    closeButton_->setObjectName(QStringLiteral("BitBtn2"));
    // Enter in the password field is its own confirmation with its own outcome: no button
    // may become the dialog's default and take it over.
    okButton_->setAutoDefault(false);
    closeButton_->setAutoDefault(false);

    auto *fields = new QGridLayout;
    fields->addWidget(idLabel, 0, 0);
    fields->addWidget(idInput, 0, 1);
    fields->addWidget(label1_, 1, 0);
    fields->addWidget(pwInput_, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(okButton_, &QPushButton::clicked, this, &LoginForm::onOkClicked);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    pwInput_->installEventFilter(this);
    pwInput_->setFocus();
}

bool LoginForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == label1_ && event->type() == QEvent::MouseButtonDblClick) {
        pwInput_->setText(ConsoleSession::password());
        return true;
    }
    // Enter is taken here and goes no further: passed on to the dialog, it would press the
    // default button of whatever it finds, the message box just opened included.
    if (watched == pwInput_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            onReturnPressed();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool LoginForm::checkPassword(QWidget *messageParent)
{
    if (!session_.passwordMatches(pwInput_->text())) {
        showMessage(messageParent, TryAgain);
        return false;
    }
    session_.login();
    return true;
}

void LoginForm::onOkClicked()
{
    // The dialog closes in both cases, so the message must not belong to it.
    if (checkPassword(parentWidget()))
        accept();
    else
        reject();
}

void LoginForm::onReturnPressed()
{
    if (checkPassword(this))
        accept();
}

} // namespace qeln
