#pragma once

#include "link/linkengine.h"

#include <QDialog>

class QPushButton;
class QRadioButton;

namespace qeln {

class LinkEngine;
class OperatorQuestions;

// frmInitial: the operator asks the controller to erase its alarm history (the event-log
// choice exists but is hidden). Each "설정" asks the operator to confirm, naming the log, and
// a yes sends one request; the dialog stays, and the engine shows the acknowledgement. Closing it, by "닫기", Escape or the close box, hands
// the link back to the status poll.
class HistoryInitForm : public QDialog {
    Q_OBJECT
public:
    // How long the controller may take to acknowledge an erase before it counts as failed.
    static constexpr int InitialisationWaitMs = 15000;
    explicit HistoryInitForm(LinkEngine &engine, QWidget *parent = nullptr);
    ~HistoryInitForm() override;

    void done(int result) override;
    // Where the confirmation goes (a message box unless set).
    void setQuestions(OperatorQuestions *questions);

private:
    void onChoiceClicked();
    void onOkClicked();
    void onClosing();
    void onConfirmed(int kind, bool yes);

    LinkEngine &engine_;
    PollHold hold_;
    QRadioButton *alarmInit_;
    QRadioButton *eventInit_;
    QPushButton *okButton_;
    QPushButton *cancelButton_;
    OperatorQuestions *questions_ = nullptr;
    bool closed_ = false;
    bool asking_ = false; // a confirmation is open: a further press adds nothing
};

} // namespace qeln
