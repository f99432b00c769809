// The guard around the parser: limits jump back out through the arena, and a failed assertion
// in the parser through SIGABRT.

#include "web/parseguard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace {

// The parser is built with its assertions on, and some malformed pages trip one (for example
// "<table><svg><foreignObject><![CDATA[ ]]><"). An assertion ends in abort(); while a page is
// parsed, SIGABRT on the parsing thread jumps back out of the parser instead, and the page
// counts as one that could not be parsed. SIGABRT on any other thread goes to the handler that
// was there before.
thread_local sigjmp_buf *t_parseEscape = nullptr;
std::mutex g_abortGuardMutex;
int g_abortGuardUsers = 0;
struct sigaction g_previousAbortAction;

extern "C" void onAbortDuringParse(int signal)
{
    if (sigjmp_buf *escape = t_parseEscape) {
        t_parseEscape = nullptr;
        siglongjmp(*escape, 2);
    }
    sigaction(SIGABRT, &g_previousAbortAction, nullptr);
    raise(signal);
}

class AbortGuard
{
public:
    AbortGuard()
    {
        const std::lock_guard<std::mutex> lock(g_abortGuardMutex);
        if (g_abortGuardUsers++ == 0) {
            struct sigaction action = {};
            action.sa_handler = &onAbortDuringParse;
            sigemptyset(&action.sa_mask);
            sigaction(SIGABRT, &action, &g_previousAbortAction);
        }
    }
    ~AbortGuard()
    {
        const std::lock_guard<std::mutex> lock(g_abortGuardMutex);
        if (--g_abortGuardUsers == 0)
            sigaction(SIGABRT, &g_previousAbortAction, nullptr);
    }
    AbortGuard(const AbortGuard &) = delete;
    AbortGuard &operator=(const AbortGuard &) = delete;
};

} // namespace

GumboOutput *ParseGuarded(ParseArena &arena, const GumboOptions &options, const char *input,
                          size_t length)
{
    const AbortGuard guard;
    GumboOutput *volatile output = nullptr;
    // The signal mask is saved: SIGABRT is blocked while its handler runs and must be
    // unblocked again after the jump.
    if (sigsetjmp(arena.escape, 1) == 0) {
        t_parseEscape = &arena.escape;
        output = gumbo_parse_with_options(&options, input, length);
    } else {
        arena.givenUp = true;
    }
    t_parseEscape = nullptr;
    return output;
}
