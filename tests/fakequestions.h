#pragma once

// Answers the windows' questions as a test decides: at once, or later through the kept
// callbacks; records what was asked and told.

#include "common/operatorquestions.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct FakeQuestions : qeln::OperatorQuestions {
    struct Asked {
        QString name;
        QString text;
        std::function<void(bool)> answer;
    };
    struct Told {
        QString name;
        QString text;
        int timeoutMs;
        std::function<void()> closed;
    };

    std::optional<bool> answer; // every question answered at once with this; unset: left open
    bool closeNotes = true;     // a note closes at once; else the test closes it
    QString folder;             // the folder the operator picks; empty: he cancels
    QList<Asked> asked;
    QList<Told> told;
    int folderDialogs = 0;

    void ask(QWidget *, const QString &name, const QString &, const QString &text,
             std::function<void(bool)> reply) override
    {
        asked << Asked{name, text, reply};
        if (answer)
            reply(*answer);
    }
    void tell(QWidget *, const QString &name, const QString &, const QString &text, int timeoutMs,
              std::function<void()> closed) override
    {
        told << Told{name, text, timeoutMs, closed};
        if (closeNotes)
            closed();
    }
    void chooseFolder(QWidget *, const QString &, const QString &,
                      std::function<void(const QString &)> chosen) override
    {
        ++folderDialogs;
        if (!folder.isEmpty())
            chosen(folder);
    }
};
