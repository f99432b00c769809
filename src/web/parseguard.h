#pragma once

#include "web/parsearena.h"

#include <gumbo.h>

// Runs the parser with a way back out: the arena jumps back when a limit is reached, and an
// assertion the parser fails (SIGABRT on this thread) does too. Null, with the arena's
// `givenUp` set, when the parse was given up. The parser's allocations stay in the arena.
GumboOutput *ParseGuarded(ParseArena &arena, const GumboOptions &options, const char *input,
                          size_t length);
