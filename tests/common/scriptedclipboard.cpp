#include "scriptedclipboard.h"

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
