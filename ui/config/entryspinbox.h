#pragma once

#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSpinBox>

#include <functional>

namespace qeln {

// Why a field's text cannot be written, for the operator ("AC 저전압 (150V ~ 200V): 300 is
// outside 150..200"); empty when it can.
using EntryCheck = std::function<QString(const QString &text)>;

// Marks a field whose text is refused: a red frame and background, the reason as its
// tooltip and in the property "entryProblem". An empty problem takes the mark away.
void markEntry(QWidget *field, const QString &problem);
QString entryProblem(const QWidget *field);

// Whether a text can still become a number of this kind while it is typed: digits, and for
// `decimals` > 0 one point followed by at most that many digits.
bool typeableNumber(const QString &text, int decimals);

// A spin box of the configuration dialogs that never replaces what the operator typed.
// Qt's spin boxes drop a key that would leave the bounds (25 in an hour box stays "2") and,
// when the box is left, force the text to a bound or back to the last value; a value
// changed behind the operator's back is then written by the next "설정". Here a number
// outside the bounds, or an empty box, stays as typed when the box is left and is marked
// (see markEntry) until it is corrected; the dialog's "설정" refuses it. Keys that can never
// make a number of the box's kind are still refused as they are typed, and the step buttons
// still move within the bounds, starting from the number in the box.
template <typename Spin> class EntrySpin : public Spin {
public:
    explicit EntrySpin(QWidget *parent = nullptr) : Spin(parent)
    {
        QObject::connect(this->lineEdit(), &QLineEdit::textChanged, this, [this] {
            // A mark goes as soon as the text is right; a new one waits until the box is left.
            if (!entryProblem(this).isEmpty())
                markEntry(this, problem());
        });
    }

    void setCheck(EntryCheck check) { check_ = std::move(check); }
    // The text as it stands, and a text put in as it is (not bounded, not reformatted).
    QString entryText() const { return this->lineEdit()->text(); }
    void setEntryText(const QString &text)
    {
        this->lineEdit()->setText(text);
        recheck();
    }
    // Marks the box if its text is refused, takes the mark away if not; returns the reason.
    QString recheck()
    {
        const QString p = problem();
        markEntry(this, p);
        return p;
    }

protected:
    QValidator::State validate(QString &input, int &pos) const override
    {
        QString copy = input;
        int at = pos;
        if (Spin::validate(copy, at) == QValidator::Acceptable) {
            input = copy;
            pos = at;
            return QValidator::Acceptable;
        }
        return typeableNumber(input, decimalsOf(this)) ? QValidator::Intermediate : QValidator::Invalid;
    }
    void fixup(QString &) const override {}

    void focusOutEvent(QFocusEvent *event) override
    {
        if (acceptable()) {
            Spin::focusOutEvent(event);
            recheck();
            return;
        }
        // Qt's spin box would correct the text here; the line edit only learns it lost the
        // focus, and the text stays.
        QCoreApplication::sendEvent(this->lineEdit(), event);
        QWidget::focusOutEvent(event);
        recheck();
        Q_EMIT this->editingFinished();
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && !acceptable()) {
            recheck();
            event->ignore();
            Q_EMIT this->editingFinished();
            return;
        }
        Spin::keyPressEvent(event);
    }
    void showEvent(QShowEvent *event) override
    {
        // The first show rewrites the text from the value; a text put in beforehand stays.
        const QString kept = entryText();
        Spin::showEvent(event);
        if (entryText() != kept)
            this->lineEdit()->setText(kept);
    }
    void stepBy(int steps) override
    {
        // The step buttons and arrow keys move from the number in the box, within the bounds.
        bool ok = false;
        const double typed = QLocale::c().toDouble(entryText(), &ok);
        if (ok) {
            if constexpr (std::is_same_v<Spin, QSpinBox>)
                this->setValue(qRound(typed));
            else
                this->setValue(typed);
        }
        Spin::stepBy(steps);
        recheck();
    }

private:
    static int decimalsOf(const QSpinBox *) { return 0; }
    static int decimalsOf(const QDoubleSpinBox *spin) { return spin->decimals(); }
    bool acceptable() const
    {
        QString copy = entryText();
        int pos = 0;
        return Spin::validate(copy, pos) == QValidator::Acceptable;
    }
    QString problem() const { return check_ ? check_(entryText()) : QString(); }

    EntryCheck check_;
};

using EntryIntSpin = EntrySpin<QSpinBox>;
using EntryDoubleSpin = EntrySpin<QDoubleSpinBox>;

} // namespace qeln
