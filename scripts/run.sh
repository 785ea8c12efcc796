#!/usr/bin/env bash
# Builds everything, then starts Quillomet (under a virtual display when there is none).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build=${QUILLOMET_BUILD_DIR:-$root/build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a "$build/bin/Quillomet" "$@"
fi
# Prefer X11 when both are there: Wayland lets no client place or raise its windows.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -n "${DISPLAY:-}" ]; then export QT_QPA_PLATFORM=xcb; fi
exec "$build/bin/Quillomet" "$@"
