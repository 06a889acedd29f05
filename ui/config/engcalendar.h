#pragma once

#include "config/clocksetting.h"

#include <QWidget>

namespace qeln {

// A month calendar: a header row with the letters of "SMTWTFS" (the week starts on Sunday)
// and six rows of day numbers, one month of one year, one selected day that a click on a
// day changes. Year, month and day can be set one by one; a value it cannot take (0 or less,
// a month above 12, a day beyond the month) leaves it as it is.
class EngCalendar : public QWidget {
    Q_OBJECT
public:
    static constexpr int Columns = 7;
    static constexpr int Rows = 7;

    explicit EngCalendar(QWidget *parent = nullptr);

    int year() const { return date_.year; }
    int month() const { return date_.month; }
    int day() const { return date_.day; }
    config::clocksetting::CalendarDate date() const { return date_; }

    void setYear(int year);
    void setMonth(int month);
    void setDay(int day);
    void setDate(const config::clocksetting::CalendarDate &date);

    // What the cell at (row, column) shows: row 0 the header letters, rows 1..6 the day
    // numbers of the shown month ("" for a cell outside it).
    QString cellText(int row, int column) const;
    // The cell of a day of the shown month; an empty rectangle for any other day.
    QRect dayRect(int day) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The operator clicked a day of the shown month.
    void dayClicked(int day);
    // The shown year, month or the selected day changed.
    void dateChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void change(const config::clocksetting::CalendarDate &date);
    // Column of the first of the shown month: 0 Sunday .. 6 Saturday.
    int firstColumn() const;
    QRect cellRect(int row, int column) const;

    config::clocksetting::CalendarDate date_;
};

} // namespace qeln
