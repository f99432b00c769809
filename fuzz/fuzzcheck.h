#pragma once

#include <QDebug>
#include <QString>

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, so libFuzzer reports it as a crash and keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// As FUZZ_CHECK for two values that must be equal; prints both. The arguments are bound to
// references: pass values or named objects, not references into temporaries.
#define FUZZ_CHECK_EQUAL(actual, expected)                                                         \
    do {                                                                                           \
        const auto &a_ = (actual);                                                                 \
        const auto &e_ = (expected);                                                               \
        if (!(a_ == e_)) {                                                                         \
            std::fprintf(stderr, "%s:%d: %s != %s\n", __FILE__, __LINE__, #actual, #expected);     \
            qWarning() << "actual:  " << a_;                                                       \
            qWarning() << "expected:" << e_;                                                       \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
