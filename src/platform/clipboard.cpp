#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

bool QtClipboard::clear()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtClipboard::setText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    return true;
}

bool ScriptedClipboard::clear()
{
    ++clearCalls;
    if (failuresLeft > 0) {
        --failuresLeft;
        return false;
    }
    text.clear();
    hasText = false;
    return true;
}

bool ScriptedClipboard::setText(const QString &newText)
{
    ++setCalls;
    if (failuresLeft > 0) {
        --failuresLeft;
        return false;
    }
    text = newText;
    hasText = true;
    return true;
}
