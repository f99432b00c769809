#pragma once

#include <QString>

// A failure that ends the tool: one line for standard error and the exit code it gives.
struct CliError
{
    int exitCode;
    QString message;
};

// Writes "quorvane-cli: <message>" as one line to standard error.
void reportError(const QString &message);
