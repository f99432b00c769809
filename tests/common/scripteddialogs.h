#pragma once

#include "platform/dialogs.h"

#include <QList>
#include <functional>

// Test double: records what would have been shown and answers from prepared queues.
class ScriptedDialogs : public Dialogs
{
public:
    enum class Kind
    {
        Message,
        Question,
        Input,
        Open,
        Save
    };
    struct Shown
    {
        Kind kind;
        QString text;
        QString title;
        Icon icon = Icon::None;
    };

    void message(const QString &text, const QString &title, Icon icon) override;
    bool askYesNo(const QString &text, const QString &title) override;
    QString inputText(const QString &prompt, const QString &title) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &startFolder,
                         QString *chosenFilter) override;

    // The texts of the messages shown so far, in order.
    QStringList messages() const;

    QList<Shown> shown;
    QList<bool> yesNoAnswers;       // empty: No
    QStringList inputAnswers;       // empty: cancelled
    QList<QStringList> openAnswers; // empty: cancelled
    QStringList saveAnswers;        // empty: cancelled
    QStringList saveFilterAnswers;  // the filter chosen with each save answer; empty: the first
    QString lastFilter;
    QString lastStartFolder; // of the last save dialog
    // Called while a dialog is "open", before it returns: lets a test look at the window then.
    std::function<void(const Shown &)> whileShown;

private:
    void record(Kind kind, const QString &text, const QString &title, Icon icon);
};
