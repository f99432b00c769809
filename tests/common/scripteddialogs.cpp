#include "scripteddialogs.h"

void ScriptedDialogs::record(Kind kind, const QString &text, const QString &title, Icon icon)
{
    shown.append({kind, text, title, icon});
    if (whileShown)
        whileShown(shown.last());
}

void ScriptedDialogs::message(const QString &text, const QString &title, Icon icon)
{
    record(Kind::Message, text, title, icon);
}

bool ScriptedDialogs::askYesNo(const QString &text, const QString &title)
{
    record(Kind::Question, text, title, Icon::None);
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.takeFirst();
}

QString ScriptedDialogs::inputText(const QString &prompt, const QString &title)
{
    record(Kind::Input, prompt, title, Icon::None);
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QStringList ScriptedDialogs::openFileNames(const QString &title, const QString &filter)
{
    lastFilter = filter;
    record(Kind::Open, title, title, Icon::None);
    return openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
}

QString ScriptedDialogs::saveFileName(const QString &title, const QString &filter,
                                      const QString &startFolder, QString *chosenFilter)
{
    lastFilter = filter;
    lastStartFolder = startFolder;
    if (chosenFilter) {
        *chosenFilter = saveFilterAnswers.isEmpty() ? filter.section(QStringLiteral(";;"), 0, 0)
                                                    : saveFilterAnswers.takeFirst();
    }
    record(Kind::Save, title, title, Icon::None);
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}

QStringList ScriptedDialogs::messages() const
{
    QStringList texts;
    for (const Shown &s : shown) {
        if (s.kind == Kind::Message)
            texts.append(s.text);
    }
    return texts;
}
