#pragma once

#include "platform/clipboard.h"

// Test double: holds the text; can be told to fail a number of attempts first, as a clipboard
// that another program keeps open does.
class ScriptedClipboard : public Clipboard
{
public:
    bool clear() override;
    bool setText(const QString &text) override;

    QString text;
    bool hasText = false;
    int clearCalls = 0;
    int setCalls = 0;
    int failuresLeft = 0;
};
