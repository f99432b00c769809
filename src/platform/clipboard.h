#pragma once

#include <QString>

// The system clipboard, plain text only. Each call reports whether it succeeded.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    virtual bool clear() = 0;
    virtual bool setText(const QString &text) = 0;
};

class QtClipboard : public Clipboard
{
public:
    bool clear() override;
    bool setText(const QString &text) override;
};
