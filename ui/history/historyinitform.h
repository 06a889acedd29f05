#pragma once

#include <QDialog>

class QPushButton;
class QRadioButton;

namespace qeln {

class LinkEngine;

// frmInitial: the operator asks the controller to erase its alarm history (the event-log
// choice exists but is hidden). Each "설정" sends one request and the dialog stays; the
// engine shows the acknowledgement. Closing it, by "닫기", Escape or the close box, hands
// the link back to the status poll.
class HistoryInitForm : public QDialog {
    Q_OBJECT
public:
    explicit HistoryInitForm(LinkEngine &engine, QWidget *parent = nullptr);
    ~HistoryInitForm() override;

    void done(int result) override;

private:
    void onChoiceClicked();
    void BitBtnI_OKClick();
    void FormClose();

    LinkEngine &engine_;
    QRadioButton *alarmInit_;
    QRadioButton *eventInit_;
    QPushButton *okButton_;
    QPushButton *cancelButton_;
    bool closed_ = false;
};

} // namespace qeln
