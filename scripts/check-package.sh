#!/usr/bin/env bash
# Checks Quorvane as it is installed, from a build folder that is already built (./test.sh makes
# build/): what `cmake --install` puts under a prefix, then the Debian package: built with cpack,
# checked by lintian (no errors), installed with apt-get, its programs run from /usr/bin (the
# version, a --read-records lookup, the window started off-screen), its files listed and
# validated (desktop entry, AppStream metainfo, manual pages, both shells finding the
# completions), and removed again. Needs root or sudo; refuses when a quorvane package is already
# installed, so it never replaces one it did not put there.
#   scripts/check-package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/CPackConfig.cmake" ]; then
    echo "$build is not a configured build: run ./test.sh first" >&2
    exit 2
fi
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
if dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q 'install ok installed'; then
    echo "A quorvane package is installed already; remove it first" >&2
    exit 2
fi

work=$(mktemp -d)
installed=
cleanup() {
    if [ -n "$installed" ]; then
        "${sudo[@]}" apt-get remove -y -q --purge quorvane >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}
step() { echo "check-package: $*"; }

version=$(sed -n 's/^CPACK_PACKAGE_VERSION:STRING=//p;s/^CMAKE_PROJECT_VERSION:STATIC=//p' \
    "$build/CMakeCache.txt" | head -n1)
cmake --build "$build" -- --quiet

# Every file an install holds, relative to its prefix; zsh looks for completions in
# vendor-completions under /usr and in site-functions under other prefixes.
expected_files() {
    local zsh_dir=$1
    sort <<EOF_LIST
bin/quorvane
bin/quorvane-cli
share/applications/io.github.quorvane.Quorvane.desktop
share/bash-completion/completions/quorvane-cli
share/doc/quorvane/changelog.gz
share/doc/quorvane/copyright
share/icons/hicolor/16x16/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/24x24/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/32x32/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/48x48/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/64x64/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/128x128/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/256x256/apps/io.github.quorvane.Quorvane.png
share/icons/hicolor/scalable/apps/io.github.quorvane.Quorvane.svg
share/man/man1/quorvane-cli.1.gz
share/man/man1/quorvane.1.gz
share/metainfo/io.github.quorvane.Quorvane.metainfo.xml
share/zsh/$zsh_dir/_quorvane-cli
EOF_LIST
}

step "cmake --install into a prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$work/prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$work/prefix.txt"
diff -u <(expected_files site-functions) "$work/prefix.txt" || fail "unexpected files in the install"

step "building the package"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(find "$work/package" -maxdepth 1 -name 'quorvane_*.deb')
[ -f "$deb" ] || fail "cpack made no .deb"
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "no shared-library dependencies"
for loaded in libcurl4 libxlsxwriter libidn2-0 libsimdjson; do
    dpkg-deb --field "$deb" Depends | grep -q "$loaded" || fail "$loaded (loaded at run time) is no dependency"
done

step "lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

step "installing $(basename "$deb")"
export DEBIAN_FRONTEND=noninteractive
installed=1
if ! "${sudo[@]}" apt-get install -y -q "$deb" >"$work/apt.log" 2>&1; then
    # The package lists are refreshed only when a dependency has to be fetched.
    "${sudo[@]}" apt-get update -q >>"$work/apt.log" 2>&1 &&
        "${sudo[@]}" apt-get install -y -q "$deb" >>"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "the package does not install"; }
fi
dpkg -L quorvane | while read -r f; do [ -d "$f" ] || echo "${f#/usr/}"; done | sort \
    >"$work/package.txt"
diff -u <(expected_files vendor-completions) "$work/package.txt" ||
    fail "unexpected files in the package"

step "the installed programs"
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$work/runtime"
[ "$(/usr/bin/quorvane-cli --version)" = "quorvane-cli $version" ] || fail "quorvane-cli --version"
[ "$(/usr/bin/quorvane --version)" = "quorvane $version" ] || fail "quorvane --version"
printf 'Domain Name: PACKAGE-CHECK.EXAMPLE\r\nRegistrar: Package Check Registrar\r\n%s\r\n' \
    'Creation Date: 2001-02-03T04:05:06Z' >"$work/answer.txt"
/usr/bin/quorvane-cli --read-records "$work/answer.txt" -f jsonl >"$work/answer.jsonl" ||
    fail "quorvane-cli --read-records"
grep -q '"registrar":"Package Check Registrar"' "$work/answer.jsonl" &&
    grep -q '"created":"2001-02-03T04:05:06Z"' "$work/answer.jsonl" ||
    { cat "$work/answer.jsonl"; fail "the lookup's facts are not in the output"; }
# libxlsxwriter is loaded when the first workbook is made: the installed program finds it.
/usr/bin/quorvane-cli --read-records "$work/answer.txt" -f xlsx -o "$work/answer.xlsx" ||
    fail "quorvane-cli -f xlsx"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).getinfo("xl/worksheets/sheet1.xml")' \
    "$work/answer.xlsx" 2>/dev/null || fail "the workbook is no workbook"
# The window starts and keeps running (it is stopped after three seconds).
status=0
QT_QPA_PLATFORM=offscreen QUORVANE_NO_HOMEPAGE=1 QUORVANE_PING_COMMAND='echo bytes=32' \
    timeout 3 /usr/bin/quorvane 2>"$work/window.log" || status=$?
[ "$status" -eq 124 ] || { cat "$work/window.log"; fail "the window ended by itself ($status)"; }

step "the installed files"
desktop-file-validate /usr/share/applications/io.github.quorvane.Quorvane.desktop ||
    fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/io.github.quorvane.Quorvane.metainfo.xml \
    >/dev/null || fail "AppStream metainfo"
for page in quorvane quorvane-cli; do
    MANWIDTH=80 man -P cat "$page" 2>/dev/null | grep -q '^SYNOPSIS' || fail "man $page"
done
MANWIDTH=80 man -P cat quorvane-cli 2>/dev/null | grep -q '^EXIT STATUS' ||
    fail "man quorvane-cli has no EXIT STATUS"
# bash-completion loads a command's completion by the command's name when it is first needed.
bash -c 'source /usr/share/bash-completion/bash_completion; _completion_loader quorvane-cli
    complete -p quorvane-cli' 2>/dev/null | grep -q ' _quorvane_cli ' ||
    fail "bash does not find the completion"
zsh -fc "autoload -Uz compinit && compinit -u -d '$work/zcompdump' &&
    [[ \$_comps[quorvane-cli] == _quorvane-cli ]]" || fail "zsh does not find the completion"

step "removing the package"
"${sudo[@]}" apt-get remove -y -q --purge quorvane >/dev/null
installed=
[ ! -e /usr/bin/quorvane-cli ] || fail "quorvane-cli is still there after the removal"
step "all good"
