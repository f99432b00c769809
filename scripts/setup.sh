#!/usr/bin/env bash
# Installs the Debian packages Quorvane needs (only those missing), then configures and builds.
# Quiet when everything is already in place.
#   scripts/setup.sh [--target NAME]... [--announce LINE] [build-dir] [extra cmake arguments...]
#   --target NAME    build only this target (may be given again); a name the build does not
#                    define is skipped, so a list can name a target before it exists
#   --announce LINE  when something has to be built, print LINE first and show the build's
#                    progress; without it the build is quiet
set -euo pipefail
cd "$(dirname "$0")/.."

targets=()
announce=
while (($#)); do
    case $1 in
        --target) targets+=("$2"); shift 2 ;;
        --announce) announce=$2; shift 2 ;;
        *) break ;;
    esac
done

packages=(
    cmake ninja-build g++ pkg-config          # build tools
    qt6-base-dev qt6-base-dev-tools           # Qt 6 Core, Concurrent, Gui, Widgets, Network, Test
    libgumbo-dev                              # HTML5 parser for the whois pages
    libcurl4-openssl-dev                      # HTTP(S) client that loads the whois pages
    libidn2-dev                               # internationalised domain names to their ASCII form
    ca-certificates                           # the authorities HTTPS trusts
    libxlsxwriter-dev                         # writes the .xlsx workbook
    libsqlite3-dev                            # SQLite: the answer store (its static archive)
    libzstd-dev                               # compresses the answers kept in the store
    libsimdjson-dev                           # fast JSON parser for RDAP answers
    libqt6sql6-psql                           # Qt SQL's PostgreSQL driver: a store shared by many machines
    postgresql postgresql-common              # throw-away clusters (pg_virtualenv) for the queue's tests
    libbenchmark-dev                          # Google Benchmark for bench/
    zlib1g-dev                                # gzip streams in the hostile-server tests
    xvfb xauth                                # virtual X display for window tests and screenshots
    fonts-liberation                          # metric-compatible "Arial" (Liberation Sans)
    python3 python3-openpyxl                  # independent .xlsx reader in the tests
    python3-lxml                              # the page benchmark's peer (bench/peers/)
    python3-xlib python3-pil                  # end-to-end test: synthetic input, screenshots
    iputils-ping                              # the connectivity check at start-up
    xdg-utils                                 # xdg-mime and xdg-open for the spreadsheet export
    clang libclang-rt-14-dev                  # libFuzzer targets
    clang-format                              # the source layout check in CI
    librsvg2-bin                              # rsvg-convert: the icon's PNG sizes from its SVG
    help2man                                  # the manual pages, made from --help
    bash-completion zsh                       # the completions' test
    desktop-file-utils appstream lintian      # CI's package check: validators and lintian
    dpkg-dev man-db                           # the package check: dpkg-shlibdeps, man
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    # The package lists are refreshed only when the install cannot go ahead without it.
    if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
        "${sudo[@]}" apt-get update -q >>"$log" 2>&1 || { cat "$log"; exit 1; }
        "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$log" 2>&1 \
            || { cat "$log"; exit 1; }
    fi
    rm -f "$log"
fi

build=${1:-build}
shift || true
announced=
say_building() {
    if [ -n "$announce" ] && [ -z "$announced" ]; then
        echo "$announce"
        announced=1
    fi
}
if [ ! -f "$build/build.ninja" ]; then
    say_building
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi

# The targets to build; none named: everything.
names=()
if ((${#targets[@]})); then
    defined=$(ninja -C "$build" -t targets all)
    for t in "${targets[@]}"; do
        if grep -q "^$t:" <<<"$defined"; then names+=("$t"); fi
    done
    if ((${#names[@]} == 0)); then
        echo "None of the targets ${targets[*]} is defined in $build" >&2
        exit 1
    fi
fi
build_args=()
((${#names[@]} == 0)) || build_args=(--target "${names[@]}")

if [ -n "$announce" ]; then
    # A dry run tells whether anything is out of date; only then the line and the progress.
    plan=$(ninja -C "$build" -n "${names[@]}")
    if [ -n "$announced" ] || grep -q '^\[' <<<"$plan"; then
        say_building
        cmake --build "$build" "${build_args[@]}"
    fi
else
    cmake --build "$build" "${build_args[@]}" -- --quiet
fi
