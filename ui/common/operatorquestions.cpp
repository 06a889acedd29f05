#include "common/operatorquestions.h"
#include "common/messagebox.h"

#include <QFileDialog>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace qeln {

namespace {

class Boxes final : public OperatorQuestions {
public:
    void ask(QWidget *parent, const QString &name, const QString &title, const QString &text,
             std::function<void(bool)> answer) override
    {
        auto *box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
        box->setObjectName(name);
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        box->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(box, &QMessageBox::finished, box, [box, answer = std::move(answer)](int) {
            answer(box->clickedButton() == box->button(QMessageBox::Yes));
        });
        box->open();
    }

    void tell(QWidget *parent, const QString &name, const QString &title, const QString &text, int timeoutMs,
              std::function<void()> closed) override
    {
        QMessageBox *box = openMessageBox(parent, QMessageBox::Information, title, text,
                                          name, BoxText::Selectable);
        QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)](int) { closed(); });
        QTimer::singleShot(timeoutMs, box, &QDialog::accept);
    }

    void chooseFolder(QWidget *parent, const QString &title, const QString &start,
                      std::function<void(const QString &)> chosen) override
    {
        auto *dialog = new QFileDialog(parent, title, start);
        dialog->setObjectName(QStringLiteral("outputFolderDialog"));
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                         [chosen = std::move(chosen)](const QString &folder) { chosen(folder); });
        dialog->open();
    }
};

} // namespace

OperatorQuestions &OperatorQuestions::boxes()
{
    static Boxes instance;
    return instance;
}

} // namespace qeln
