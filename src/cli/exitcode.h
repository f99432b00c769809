#pragma once

// The tool's exit codes.
namespace ExitCode {
inline constexpr int Done = 0;          // every lookup answered: registered, available, reserved
inline constexpr int SomeFailed = 1;    // some lookups failed, were throttled or were invalid
inline constexpr int Usage = 2;         // a usage error or unreadable input
inline constexpr int NotWritable = 3;   // the output could not be written
inline constexpr int NoNetwork = 4;     // no server could be reached at all
inline constexpr int Interrupted = 130; // stopped by SIGINT or SIGTERM
} // namespace ExitCode
