#include "configdialog.h"

#include "common/messagebox.h"
#include "config/entryspinbox.h"
#include "link/linkengine.h"

#include <QComboBox>
#include <QPushButton>

namespace qeln {

ConfigDialog::ConfigDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : QDialog(parent), engine_(engine), state_(state)
{
    setModal(true);
    hold_.take(engine_);
}

// Destroyed without being closed (its parent went first), the hold ends with it.
ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::done(int result)
{
    hold_.reset();
    QDialog::done(result);
}

QPushButton *ConfigDialog::button(const QString &text, const char *objectName, QWidget *parent,
                                  bool takesFocus)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setAutoDefault(false);
    if (!takesFocus)
        b->setFocusPolicy(Qt::NoFocus);
    b->setMinimumWidth(80);
    return b;
}

void ConfigDialog::holdPollTimer()
{
    hold_.take(engine_, HoldReason::ClockDialog);
}

bool ConfigDialog::refuseEmptyList(QComboBox *list, const QString &caption)
{
    if (list->currentIndex() >= 0)
        return false;
    const QString problem = caption.trimmed()
        + QStringLiteral(": no entry is selected (the controller reported a value outside the list)");
    if (entryProblem(list).isEmpty()) {
        // The mark goes with the first entry chosen.
        connect(list, &QComboBox::currentIndexChanged, this, [list](int index) {
            if (index >= 0)
                markEntry(list, QString());
        });
    }
    markEntry(list, problem);
    submit(config::WritePlan::refuse(problem + QStringLiteral("; choose an entry or untick the line. "
                                                              "Nothing was sent.")));
    return true;
}

bool ConfigDialog::submit(const config::WritePlan &plan)
{
    bool sent = false;
    QString refusal = plan.refusal;
    if (!plan.refused() && !plan.writes.isEmpty()) {
        sent = engine_.startWrites(plan.writes, windowTitle());
        if (!sent)
            refusal = QStringLiteral("The previous settings are still being written; nothing was "
                                     "sent. Press the button again when they are done.");
    }
    if (!refusal.isEmpty()) {
        QMessageBox *box = openMessageBox(this, QMessageBox::Warning, windowTitle(), refusal,
                                          QLatin1String(RefusalBoxName));
        connect(box, &QMessageBox::finished, this, &ConfigDialog::onRefusalClosed);
    }
    return sent;
}

} // namespace qeln
