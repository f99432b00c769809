#pragma once

#include <QString>

// How long a captured command may run before it is killed. Start-up runs one capture, so this
// bounds how long the program can take before its window shows.
inline constexpr int DefaultCaptureLimitMs = 2500;

inline const QString ProcessStartFailedText =
    QStringLiteral("Failed to create process, check the path of the command line.");

// Runs a command line (split the way a shell splits it, the program looked up on PATH) with no
// standard input and returns what it wrote to standard output, standard error, or both mixed in
// the order written; the stream not wanted is discarded. The bytes are decoded as the locale's
// text by one decoder, so a character split between two reads comes through whole.
//
// Returns ProcessStartFailedText when the program cannot be started. A command still running
// after limitMs is killed, and what it wrote until then is returned. Lets the event loop run
// while it waits. Throws RuntimeError when neither stream is wanted.
QString CaptureCommandOutput(const QString &commandLine, bool wantOutput, bool wantErrors,
                             int limitMs = DefaultCaptureLimitMs);
