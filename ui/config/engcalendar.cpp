#include "config/engcalendar.h"

#include <QDate>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

namespace qeln {

namespace cs = config::clocksetting;

namespace {

const char HeaderLetters[] = "SMTWTFS";

} // namespace

EngCalendar::EngCalendar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("EngCalendar1"));
    const QDate today = QDate::currentDate();
    date_ = cs::withDay(cs::withMonth(cs::withYear(date_, today.year()), today.month()), today.day());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void EngCalendar::setYear(int year)
{
    change(cs::withYear(date_, year));
}

void EngCalendar::setMonth(int month)
{
    change(cs::withMonth(date_, month));
}

void EngCalendar::setDay(int day)
{
    change(cs::withDay(date_, day));
}

void EngCalendar::setDate(const cs::CalendarDate &date)
{
    change(cs::withDay(cs::withMonth(cs::withYear(date_, date.year), date.month), date.day));
}

void EngCalendar::change(const cs::CalendarDate &date)
{
    if (date == date_)
        return;
    date_ = date;
    update();
    Q_EMIT dateChanged();
}

int EngCalendar::firstColumn() const
{
    return QDate(date_.year, date_.month, 1).dayOfWeek() % 7;
}

QString EngCalendar::cellText(int row, int column) const
{
    if (column < 0 || column >= Columns || row < 0 || row >= Rows)
        return QString();
    if (row == 0)
        return QString(QLatin1Char(HeaderLetters[column]));
    const int day = (row - 1) * Columns + column - firstColumn() + 1;
    if (day < 1 || day > cs::daysInMonth(date_.year, date_.month))
        return QString();
    return QString::number(day);
}

QRect EngCalendar::cellRect(int row, int column) const
{
    // Cells share the widget evenly; the last row and column take what is left over.
    const int x0 = column * width() / Columns;
    const int x1 = (column + 1) * width() / Columns;
    const int y0 = row * height() / Rows;
    const int y1 = (row + 1) * height() / Rows;
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

QRect EngCalendar::dayRect(int day) const
{
    if (day < 1 || day > cs::daysInMonth(date_.year, date_.month))
        return QRect();
    const int index = firstColumn() + day - 1;
    return cellRect(1 + index / Columns, index % Columns);
}

QSize EngCalendar::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return QSize(Columns * (fm.horizontalAdvance(QStringLiteral("00")) + 14),
                 Rows * (fm.height() + 6));
}

QSize EngCalendar::minimumSizeHint() const
{
    return sizeHint();
}

void EngCalendar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));

    // Header: the style's header section, then the letter centred over it.
    for (int column = 0; column < Columns; ++column) {
        QStyleOptionHeader option;
        option.initFrom(this);
        option.rect = cellRect(0, column);
        option.state |= QStyle::State_Raised;
        style()->drawControl(QStyle::CE_HeaderSection, &option, &p, this);
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(option.rect, Qt::AlignCenter, cellText(0, column));
    }

    const QColor grid = palette().color(QPalette::Mid);
    for (int row = 1; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const QRect cell = cellRect(row, column);
            const QString text = cellText(row, column);
            const bool selected = !text.isEmpty() && text.toInt() == date_.day;
            if (selected)
                p.fillRect(cell, palette().color(QPalette::Highlight));
            p.setPen(grid);
            p.drawRect(cell.adjusted(0, 0, -1, -1));
            p.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
            p.drawText(cell, Qt::AlignCenter, text);
        }
    }
}

void EngCalendar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    for (int day = 1; day <= cs::daysInMonth(date_.year, date_.month); ++day) {
        if (dayRect(day).contains(at)) {
            setDay(day);
            Q_EMIT dayClicked(day);
            return;
        }
    }
}

} // namespace qeln
