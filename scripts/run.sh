#!/usr/bin/env bash
# Builds everything, then starts Quillomet (under a virtual display when there is none).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
build=${QUILLOMET_BUILD_DIR:-$root/build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a "$build/bin/Quillomet" "$@"
fi
# The program itself prefers X11 when both are there, for itself only: what it starts (the
# updater, the browser) gets this environment as it is.
exec "$build/bin/Quillomet" "$@"
