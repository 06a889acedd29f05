#include "logoutform.h"

#include "app/consolesession.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qeln {

LogoutForm::LogoutForm(ConsoleSession &session, QWidget *parent)
    : QDialog(parent)
    , session_(session)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Logout"));

    auto *question = new QLabel(QStringLiteral("Are you sure?"), this);
    question->setAlignment(Qt::AlignCenter);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtnI_OK"));
    auto *cancel = new QPushButton(QStringLiteral("Close"), this);
    cancel->setObjectName(QStringLiteral("BitBtnI_Cancel"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &LogoutForm::onOkClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void LogoutForm::onOkClicked()
{
    session_.logout();
    accept();
}

} // namespace qeln
