#include "config/operationdialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "config/entryspinbox.h"
#include "link/linkengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qeln {

namespace {

QLineEdit *editorOf(QWidget *spin)
{
    return spin ? spin->findChild<QLineEdit *>() : nullptr;
}

QWidget *makeControl(const config::OperationSetting &s, QWidget *parent)
{
    QWidget *control = nullptr;
    if (s.isList()) {
        auto *list = new QComboBox(parent);
        list->addItems(s.entries);
        list->setCurrentIndex(-1);
        control = list;
    } else if (s.kind == config::ControlKind::DecimalSpin) {
        auto *spin = new EntryDoubleSpin(parent);
        spin->setDecimals(1);
        spin->setRange(s.minimum, s.maximum);
        spin->setSingleStep(s.step);
        spin->setCheck([s](const QString &text) { return config::valueProblem(s, {text, -1}); });
        control = spin;
    } else if (s.isSpin()) {
        auto *spin = new EntryIntSpin(parent);
        spin->setRange(qRound(s.minimum), qRound(s.maximum));
        spin->setSingleStep(qRound(s.step));
        spin->setCheck([s](const QString &text) { return config::valueProblem(s, {text, -1}); });
        control = spin;
    }
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(control)) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        spin->setLocale(c);
        spin->setKeyboardTracking(true);
        spin->setAlignment(Qt::AlignRight);
        spin->setMinimumWidth(90);
    }
    if (control)
        control->setObjectName(QLatin1String(s.control));
    return control;
}

} // namespace

OperationDialog::OperationDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent)
    : ConfigDialog(engine, state, parent)
{
    setObjectName(QStringLiteral("frmPoint_Setting"));
    setWindowTitle(QStringLiteral("운용/알람 설정"));

    testMode_ = config::testModeAtOpening(state);
    const QList<config::OperationSetting> &table = config::operationSettings(testMode_);

    const QStringList groupOrder{QStringLiteral("알람설정"), QStringLiteral("운용설정"),
                                 QStringLiteral("축전지 방전시험"), QStringLiteral("축전지 운용설정")};
    QList<QGroupBox *> groups;
    QList<QGridLayout *> grids;
    for (const QString &title : groupOrder) {
        auto *group = new QGroupBox(title, this);
        paintSkyBlue(group);
        auto *grid = new QGridLayout(group);
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(6);
        grid->setColumnStretch(0, 1);
        groups << group;
        grids << grid;
    }
    groups[0]->setObjectName(QStringLiteral("grpAlarmSettings"));
    groups[1]->setObjectName(QStringLiteral("grpOperation"));
    groups[2]->setObjectName(QStringLiteral("grpDischargeTest"));
    groups[3]->setObjectName(QStringLiteral("grpLithium"));

    for (const config::OperationSetting &s : table) {
        const qsizetype g = groupOrder.indexOf(s.group);
        QGroupBox *group = groups[g];
        QGridLayout *grid = grids[g];
        auto *box = new QCheckBox(s.caption, group);
        box->setObjectName(QLatin1String(s.checkBox));
        QWidget *control = makeControl(s, group);
        const int row = grid->rowCount();
        if (control) {
            grid->addWidget(box, row, 0);
            grid->addWidget(control, row, 1);
        } else {
            grid->addWidget(box, row, 0, 1, 2);
        }
        boxes_ << box;
        controls_ << control;
    }
    for (QGridLayout *grid : grids)
        grid->setRowStretch(grid->rowCount(), 1);

    setValues(config::initialValues(state));

    // A value typed into a spin box is written as typed: the buttons never take the focus
    // from it (leaving the box would reformat an accepted number first).
    auto *ok = button(QStringLiteral("설정"), "BitBtnOK", this);
    auto *defaults = button(QStringLiteral("기본값"), "BitBtnDefault", this);
    auto *all = button(QStringLiteral("전체선택"), "btnAllCheck", this);
    auto *cancel = button(QStringLiteral("닫기"), "BitBtnCancel", this);
    for (QPushButton *b : {ok, defaults, all, cancel})
        b->setMinimumWidth(90);

    auto *columns = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    left->addWidget(groups[0]);
    left->addWidget(groups[3]);
    auto *right = new QVBoxLayout;
    right->addWidget(groups[1]);
    right->addWidget(groups[2]);
    columns->addLayout(left);
    columns->addLayout(right);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(all);
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &OperationDialog::onOkClicked);
    connect(defaults, &QPushButton::clicked, this, &OperationDialog::onDefaultClicked);
    connect(all, &QPushButton::clicked, this, &OperationDialog::onAllCheckClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    centreOnScreen(this);
}

namespace {

// What marks a spin line's control and refuses it: empty for lists and the reset line.
QString recheck(QWidget *control)
{
    if (auto *spin = dynamic_cast<EntryIntSpin *>(control))
        return spin->recheck();
    if (auto *spin = dynamic_cast<EntryDoubleSpin *>(control))
        return spin->recheck();
    return QString();
}

} // namespace

config::OperationValues OperationDialog::values() const
{
    config::OperationValues v;
    for (QWidget *control : controls_) {
        config::OperationValue value;
        if (auto *list = qobject_cast<QComboBox *>(control))
            value.index = list->currentIndex();
        else if (QLineEdit *edit = editorOf(control))
            value.text = edit->text();
        v << value;
    }
    return v;
}

void OperationDialog::setValues(const config::OperationValues &values)
{
    for (qsizetype i = 0; i < controls_.size() && i < values.size(); ++i) {
        QWidget *control = controls_[i];
        if (auto *list = qobject_cast<QComboBox *>(control))
            list->setCurrentIndex(values[i].index);
        else if (QLineEdit *edit = editorOf(control))
            // Text goes in as it is: a controller value beyond the bounds is shown, marked.
            edit->setText(values[i].text);
        recheck(control);
    }
}

void OperationDialog::onDefaultClicked()
{
    setValues(config::defaults(state_.ModelCode(), values()));
}

void OperationDialog::onAllCheckClicked()
{
    QList<bool> ticked;
    for (QCheckBox *box : std::as_const(boxes_))
        ticked << box->isChecked();
    ticked = config::selectAll(ticked);
    for (qsizetype i = 0; i < boxes_.size(); ++i)
        boxes_[i]->setChecked(ticked[i]);
}

void OperationDialog::onOkClicked()
{
    QList<bool> ticked;
    for (QCheckBox *box : std::as_const(boxes_))
        ticked << box->isChecked();
    // A ticked line whose field is refused stops "설정" by its name; the field keeps its text
    // and its mark, the ticks stay, nothing is sent.
    for (qsizetype i = 0; i < boxes_.size(); ++i) {
        if (!ticked[i])
            continue;
        if (auto *list = qobject_cast<QComboBox *>(controls_[i])) {
            if (refuseEmptyList(list, boxes_[i]->text()))
                return;
            continue;
        }
        const QString problem = recheck(controls_[i]);
        if (!problem.isEmpty()) {
            submit(config::WritePlan::refuse(problem + QStringLiteral("; nothing was sent.")));
            return;
        }
    }
    const config::WritePlan plan = config::plan(ticked, values(), testMode_);
    const bool sent = submit(plan);
    // A refusal keeps the ticks so the operator can correct the value and try again; so does
    // a plan the link could not take (a sequence still running).
    if (plan.refused() || (!plan.writes.isEmpty() && !sent))
        return;
    for (QCheckBox *box : std::as_const(boxes_))
        box->setChecked(false);
}

} // namespace qeln
