#pragma once

#include <QString>
#include <QStringList>

// Message boxes, the text prompt and the file dialogs the window shows.
// Every call is modal: it returns when the user has answered.
class Dialogs
{
public:
    enum class Icon
    {
        None,
        Warning
    };

    virtual ~Dialogs() = default;

    // A message with an OK button only.
    virtual void message(const QString &text, const QString &title, Icon icon) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &title) = 0;
    // A one-line text prompt; the empty string when the user cancels.
    virtual QString inputText(const QString &prompt, const QString &title) = 0;
    // Open dialog for several existing files, in the order the dialog lists them; empty when
    // cancelled. The filter uses Qt's form: "Text Files (*.txt);;All Files (*)".
    virtual QStringList openFileNames(const QString &title, const QString &filter) = 0;
    // Save dialog that asks no overwrite question of its own, opening in startFolder; empty when
    // cancelled. The filter the user chose goes to chosenFilter when one is given.
    virtual QString saveFileName(const QString &title, const QString &filter,
                                 const QString &startFolder, QString *chosenFilter) = 0;
};
