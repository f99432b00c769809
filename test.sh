#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   ./test.sh              the normal build in build/
#   ./test.sh --sanitize   the whole suite again under AddressSanitizer and
#                          UndefinedBehaviorSanitizer, in build-asan/; any report fails it
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--sanitize" ]; then
    scripts/setup.sh build-asan -DQUORVANE_SANITIZE=ON -DQUORVANE_BENCHMARKS=OFF
    # libxkbcommon-x11 hands strndup a length past its buffer when the real window starts on X.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:intercept_strndup=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
    ctest --test-dir build-asan --output-on-failure -j2
else
    scripts/setup.sh build
    ctest --test-dir build --output-on-failure -j2
fi
