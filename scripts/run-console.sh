#!/usr/bin/env bash
# The README's console command: installs the Debian packages that are missing, builds the
# console and starts it in demo mode, with a simulated controller inside the process.
# Arguments go to qeln-console (e.g. --output-dir DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh qeln-console
build=${QELN_BUILD_DIR:-build}

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    cat >&2 <<MSG
run-console: built $build/ui/qeln-console, but there is no display to show it on
(neither DISPLAY nor WAYLAND_DISPLAY is set). Start this command from a desktop session,
or over 'ssh -X'. Without any screen, a picture of the demo can still be taken:
    QT_QPA_PLATFORM=offscreen $build/ui/qeln-console --demo --screenshot demo.png
MSG
    exit 1
fi
exec "$build/ui/qeln-console" --demo "$@"
