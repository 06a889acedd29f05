#include "config/entryspinbox.h"

#include <QVariant>

namespace qeln {

namespace {
constexpr const char *ProblemProperty = "entryProblem";
}

void markEntry(QWidget *field, const QString &problem)
{
    if (!field || entryProblem(field) == problem)
        return;
    field->setProperty(ProblemProperty, problem);
    field->setToolTip(problem);
    if (problem.isEmpty()) {
        field->setStyleSheet(QString());
        return;
    }
    // The widget's own class as the selector, so the frame is drawn once (not again around
    // the line edit inside a spin box or a list).
    field->setStyleSheet(QLatin1String(field->metaObject()->className())
                         + QStringLiteral(" { border: 2px solid #d00000; background-color: #ffd8d8; }"));
}

QString entryProblem(const QWidget *field)
{
    return field ? field->property(ProblemProperty).toString() : QString();
}

bool typeableNumber(const QString &text, int decimals)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128)
        ++i;
    if (i == text.size())
        return true;
    if (decimals <= 0 || text.at(i) != QLatin1Char('.'))
        return false;
    const qsizetype fraction = text.size() - i - 1;
    if (fraction > decimals)
        return false;
    for (qsizetype j = i + 1; j < text.size(); ++j) {
        if (!text.at(j).isDigit() || text.at(j).unicode() >= 128)
            return false;
    }
    return true;
}

} // namespace qeln
