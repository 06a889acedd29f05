#pragma once

#include "app/consolestate.h"
#include "config/writeplan.h"
#include "link/linkengine.h"

#include <QDialog>

class QComboBox;
class QPushButton;

namespace qeln {

// What every configuration dialog shares. Opening one holds the status poll (a PollHold);
// closing it by any way ("닫기", Escape, the close box, or its parent going first) ends the
// hold, and the next tick polls once no other dialog holds it (the contact's alarm assignment
// over the contact list leaves the poll to the one below).
//
// A dialog never talks to the link: its "설정" turns the operator's values into a WritePlan
// (core/config) and hands it to submit().
class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    // `state` is the console state the engine fills (what the dialog opens with).
    ConfigDialog(LinkEngine &engine, ConsoleState &state, QWidget *parent);
    ~ConfigDialog() override;

    void done(int result) override;

    // Object name of the box that shows a refused plan.
    static constexpr const char *RefusalBoxName = "refusalBox";

protected:
    // A refused plan shows its message (without blocking) and sends nothing; a plan with
    // writes starts the write sequence. Returns true when writes went out.
    bool submit(const config::WritePlan &plan);
    // A ticked list without an entry (the controller reported a value outside it) is an
    // incomplete entry: "설정" is refused by the line's name and the list is marked until an
    // entry is chosen. Returns true when it refused (nothing is sent then).
    bool refuseEmptyList(QComboBox *list, const QString &caption);
    // The box of a refused plan was closed; the dialog is about to be active again.
    virtual void onRefusalClosed() {}
    // The poll timer stands still for as long as the dialog is open (the clock dialog).
    void holdPollTimer();

    // A button that never answers Enter by itself and, unless `takesFocus`, never takes the
    // focus (so a value typed into a box and sent at once is sent as typed).
    static QPushButton *button(const QString &text, const char *objectName, QWidget *parent,
                               bool takesFocus = false);

    LinkEngine &engine_;
    ConsoleState &state_;

private:
    PollHold hold_;
};

} // namespace qeln
