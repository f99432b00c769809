#pragma once

// How many servers a run may keep busy at once within the files the process may open.
namespace DescriptorBudget {

// Descriptors a busy server may hold at worst. Port 43: its connection (one that finds none
// free waits for one). HTTP (RDAP, the sites): its connection, a kept-alive one waiting for
// reuse, and the pair a name look-up under way uses; libcurl fails a transfer that finds no
// descriptor, so these must fit.
inline constexpr int PerPortFortyThreeServer = 1;
inline constexpr int PerHttpServer = 4;
// Descriptors kept for everything else: the input and output, the event loop's own, name
// look-ups on their threads, libraries.
inline constexpr int Reserve = 64;

// Raises the soft limit on open files to the hard limit; returns the limit in force afterwards
// (the soft limit as it was when it cannot be raised).
long raiseOpenFileLimit();
// The descriptors the process has open now.
int openDescriptors();
// The servers that may be busy at once: `requested`, or fewer when `perServer` descriptors for
// each would not fit under `limit` beside the `open` ones and the reserve; at least 1.
int parallelWithin(int requested, long limit, int open, int perServer);

} // namespace DescriptorBudget
