#include "config/measurementdialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "link/linkengine.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qeln {

namespace ms = config::measurement;

MeasurementDialog::MeasurementDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : ConfigDialog(engine, state, parent)
{
    setObjectName(QStringLiteral("frmSetting"));
    setWindowTitle(QStringLiteral("계측값 설정"));

    auto *group = new QGroupBox(QStringLiteral("계측설정"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    paintSkyBlue(group);

    auto *grid = new QGridLayout(group);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(0, 1);

    const int model = state_.ModelCode();
    const QList<ms::Item> &items = ms::items();
    for (int row = 0; row < ms::ItemCount; ++row) {
        const ms::Item &item = items[row];
        auto *box = new QCheckBox(item.caption, group);
        box->setObjectName(QLatin1String(item.checkBoxName));
        auto *field = new QLineEdit(group);
        field->setObjectName(QLatin1String(item.fieldName));
        // Every digit position is required and the point stays where it is.
        field->setInputMask(item.format + QStringLiteral(";_"));
        field->setText(item.initialText);
        field->setAlignment(Qt::AlignRight);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000.00")) + 16);
        auto *unit = new QLabel(item.unit, group);
        unit->setObjectName(QLatin1String(item.unitName));
        grid->addWidget(box, row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(unit, row, 2);
        const bool visible = ms::isVisible(item, model);
        box->setVisible(visible);
        field->setVisible(visible);
        unit->setVisible(visible);
        boxes_[row] = box;
        fields_[row] = field;
        units_[row] = unit;
    }

    auto *ok = button(QStringLiteral("설정"), "BitBtnOK", this, true);
    auto *cancel = button(QStringLiteral("닫기"), "BitBtnCancel", this, true);
    auto *zero = button(QStringLiteral("영점"), "btnZero", this, true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(zero);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &MeasurementDialog::onOkClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(zero, &QPushButton::clicked, this, &MeasurementDialog::onZeroClicked);

    adjustSize();
    centreOnScreen(this);
}

void MeasurementDialog::onZeroClicked()
{
    for (int row = 0; row < ms::ItemCount; ++row) {
        if (ms::isZeroedByZeroButton(row))
            fields_[row]->setText(ms::zeroText(ms::items()[row]));
    }
}

void MeasurementDialog::onOkClicked()
{
    QList<bool> ticked;
    QStringList texts;
    for (int row = 0; row < ms::ItemCount; ++row) {
        // A hidden line is never ticked, whatever its box says.
        ticked << (boxes_[row]->isChecked() && !boxes_[row]->isHidden());
        texts << fields_[row]->text();
    }
    const config::WritePlan plan = ms::plan(ticked, texts);
    if (!plan.refused() && plan.writes.isEmpty() && ticked.contains(true)) {
        // Every ticked line holds zero, which is not written as a calibration: say so rather
        // than nothing at all.
        QStringList zeros;
        for (int row = 0; row < ms::ItemCount; ++row) {
            if (ticked[row])
                zeros << ms::items()[row].caption;
        }
        submit(config::WritePlan::refuse(
            QStringLiteral("Nothing was sent: a calibration value of zero is not written (%1).")
                .arg(zeros.join(QStringLiteral(", ")))));
        return;
    }
    const bool sent = submit(plan);
    // A refusal keeps the ticks so the operator can correct the field and try again; so does
    // a plan the link could not take (a sequence still running).
    if (plan.refused() || (!plan.writes.isEmpty() && !sent))
        return;
    for (QCheckBox *box : boxes_)
        box->setChecked(false);
}

} // namespace qeln
