#!/usr/bin/env bash
# Installs what is missing, builds what it runs, and starts Quorvane.
set -euo pipefail
cd "$(dirname "$0")"
# What ./run.sh builds: the window and the command-line tool (skipped while the build has none).
targets=(quorvane quorvane-cli)
setup_args=()
for t in "${targets[@]}"; do setup_args+=(--target "$t"); done
scripts/setup.sh "${setup_args[@]}" \
    --announce "Building Quorvane; the first build takes a few minutes" build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'TXT'
Quorvane needs a graphical display, and none is available here (DISPLAY is not set).
To start it on a virtual display instead, run:
    xvfb-run -a -s '-screen 0 1280x1024x24' build/src/app/quorvane
TXT
    exit 2
fi
exec build/src/app/quorvane "$@"
