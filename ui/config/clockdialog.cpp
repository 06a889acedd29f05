#include "config/clockdialog.h"

#include "common/screenfit.h"
#include "common/skyblue.h"
#include "config/engcalendar.h"
#include "config/entryspinbox.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <utility>

namespace qeln {

namespace cs = config::clocksetting;

// A spin box of the clock: at most `maxChars` characters. What is typed stays as typed; an
// empty box or a number outside the bounds is marked when the box is left and refused by
// "설정" (Qt's own spin box would drop the key that leaves the bounds, so that 25 typed in
// the hour stays "2", and would put back a value into an emptied box).
class ClockSpinBox : public EntryIntSpin {
public:
    ClockSpinBox(const char *name, cs::Field field, int low, int high, int maxChars, QWidget *parent)
        : EntryIntSpin(parent)
    {
        setObjectName(QLatin1String(name));
        setRange(low, high);
        lineEdit()->setMaxLength(maxChars);
        setAlignment(Qt::AlignRight);
        setCheck([field](const QString &text) { return cs::fieldProblem(field, text); });
    }
    // The text as typed, at every keystroke (the spin box's own signal waits for a value).
    QLineEdit *edit() const { return lineEdit(); }
};

namespace {

QLabel *unitLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}


} // namespace

ClockDialog::ClockDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent) : ConfigDialog(engine, state, parent)
{
    setObjectName(QStringLiteral("frmSetTime"));
    setWindowTitle(QStringLiteral("날짜/시간 설정"));
    holdPollTimer();

    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("PageControl1"));
    auto *page = new QWidget(tabs);
    page->setObjectName(QStringLiteral("TabSheet1"));
    tabs->addTab(page, QStringLiteral("날짜 / 시간"));

    auto *dateGroup = new QGroupBox(QStringLiteral("날짜"), page);
    dateGroup->setObjectName(QStringLiteral("GroupBox1"));
    paintSkyBlue(dateGroup);
    year_ = new ClockSpinBox("spinedtYear", cs::Field::Year, cs::MinYear, cs::MaxYear, 4, dateGroup);
    month_ = new QComboBox(dateGroup);
    month_->setObjectName(QStringLiteral("cbMonth"));
    month_->setEditable(true);
    for (int m = 1; m <= 12; ++m)
        month_->addItem(QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')));
    month_->lineEdit()->setMaxLength(2);
    // Typed text stays as typed: no completion into a list entry, no entry added on Enter.
    month_->setCompleter(nullptr);
    month_->setInsertPolicy(QComboBox::NoInsert);
    calendar_ = new EngCalendar(dateGroup);

    auto *dateRow = new QHBoxLayout;
    dateRow->addWidget(year_);
    dateRow->addWidget(unitLabel(QStringLiteral("년"), dateGroup));
    dateRow->addSpacing(16);
    dateRow->addWidget(month_);
    dateRow->addWidget(unitLabel(QStringLiteral("월"), dateGroup));
    dateRow->addStretch(1);
    auto *dateLayout = new QVBoxLayout(dateGroup);
    dateLayout->addLayout(dateRow);
    dateLayout->addWidget(calendar_);

    auto *timeGroup = new QGroupBox(QStringLiteral("시간"), page);
    timeGroup->setObjectName(QStringLiteral("GroupBox2"));
    paintSkyBlue(timeGroup);
    hour_ = new ClockSpinBox("spinedtHour", cs::Field::Hour, 0, 23, 2, timeGroup);
    minute_ = new ClockSpinBox("spinedtMIn", cs::Field::Minute, 0, 59, 2, timeGroup);
    second_ = new ClockSpinBox("spinedtSec", cs::Field::Second, 0, 59, 2, timeGroup);
    auto *timeRow = new QHBoxLayout(timeGroup);
    const std::pair<ClockSpinBox *, const char *> timeBoxes[] = {
        {hour_, "시"}, {minute_, "분"}, {second_, "초"}};
    for (const auto &[box, label] : timeBoxes) {
        timeRow->addWidget(box);
        timeRow->addWidget(unitLabel(QString::fromUtf8(label), timeGroup));
        timeRow->addSpacing(8);
    }
    timeRow->addStretch(1);

    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(dateGroup);
    pageLayout->addWidget(timeGroup);

    // The buttons never take the focus: a value typed into a box and not yet left is read
    // as typed, not corrected first.
    auto *ok = button(QStringLiteral("설정"), "bbtOK", this);
    auto *now = button(QStringLiteral("현재 날짜/시간"), "Button1", this);
    auto *cancel = button(QStringLiteral("닫기"), "bbtCancel", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(now);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(year_->edit(), &QLineEdit::textChanged, this, &ClockDialog::keepCalendarInStep);
    connect(month_, &QComboBox::editTextChanged, this, &ClockDialog::onMonthTextChanged);
    connect(month_->lineEdit(), &QLineEdit::editingFinished, this, &ClockDialog::recheckMonth);
    connect(ok, &QPushButton::clicked, this, &ClockDialog::onOkClicked);
    connect(now, &QPushButton::clicked, this, &ClockDialog::onNowClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    fillFrom(QDateTime::currentDateTime());
    adjustSize();
    centreOnScreen(this);
}

cs::Fields ClockDialog::fields() const
{
    return cs::Fields{year_->entryText(), month_->currentText(), calendar_->day(),
                      hour_->entryText(), minute_->entryText(), second_->entryText()};
}

bool ClockDialog::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && !std::exchange(keepFieldsOnReturn_, false))
        fillFrom(QDateTime::currentDateTime());
    return ConfigDialog::event(event);
}

void ClockDialog::fillFrom(const QDateTime &when)
{
    const cs::Fields f = cs::fieldsFrom(when);
    year_->setEntryText(f.year);
    month_->setEditText(f.month);
    recheckMonth();
    calendar_->setYear(when.date().year());
    calendar_->setMonth(when.date().month());
    calendar_->setDay(when.date().day());
    hour_->setEntryText(f.hour);
    minute_->setEntryText(f.minute);
    second_->setEntryText(f.second);
}

void ClockDialog::onMonthTextChanged()
{
    // A mark goes as soon as the month is right; a new one waits until the box is left.
    if (!entryProblem(month_).isEmpty())
        recheckMonth();
    keepCalendarInStep();
}

void ClockDialog::recheckMonth()
{
    markEntry(month_, cs::fieldProblem(cs::Field::Month, month_->currentText()));
}

void ClockDialog::keepCalendarInStep()
{
    calendar_->setDate(cs::followFields(calendar_->date(), year_->text(), month_->currentText()));
}

void ClockDialog::onOkClicked()
{
    // Every box shows whether it can be written; the refusal names the first that cannot.
    for (ClockSpinBox *box : {year_, hour_, minute_, second_})
        box->recheck();
    recheckMonth();
    submit(cs::plan(fields()));
}

void ClockDialog::onRefusalClosed()
{
    keepFieldsOnReturn_ = true;
}

void ClockDialog::onNowClicked()
{
    fillFrom(QDateTime::currentDateTime());
}

} // namespace qeln
