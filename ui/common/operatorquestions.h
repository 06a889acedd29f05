#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace qeln {

// Where the windows put a question to the operator, tell him something on the way out, or
// let him pick a folder. Nothing here runs a nested event loop: the answer comes back through
// the callback, later. Tests install their own implementation and answer at once.
class OperatorQuestions {
public:
    virtual ~OperatorQuestions() = default;

    // A yes/no question in a box named `name`, window-modal to parent. `answer` runs once,
    // with true for yes; never when parent goes first. No is the default button.
    virtual void ask(QWidget *parent, const QString &name, const QString &title, const QString &text,
                     std::function<void(bool yes)> answer) = 0;
    // A notice that closes by itself after timeoutMs (or on OK); `closed` runs once then.
    virtual void tell(QWidget *parent, const QString &name, const QString &title, const QString &text,
                      int timeoutMs, std::function<void()> closed) = 0;
    // The folder dialog, starting at `start`; `chosen` runs with the folder, not on cancel.
    virtual void chooseFolder(QWidget *parent, const QString &title, const QString &start,
                              std::function<void(const QString &folder)> chosen) = 0;

    // Message boxes and the toolkit's folder dialog.
    static OperatorQuestions &boxes();
};

} // namespace qeln
