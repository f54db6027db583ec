#!/usr/bin/env bash
# Installs what is missing, builds, and starts vexa on the virtual pad.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_packages
build
ensure_runtime_dir
ensure_display
trap stop_display EXIT

if [ -n "$STARTED_DISPLAY" ]; then
    shot="$BUILD/screenshot.png"
    echo "No display was set: vexa runs on the virtual display $STARTED_DISPLAY."
    echo "A screenshot is written to $shot a few seconds after start;"
    echo "take another any time with: DISPLAY=$STARTED_DISPLAY import -window root shot.png"
    ( sleep 6 && import -window root "$shot" 2>/dev/null && echo "Screenshot: $shot" ) &
fi

cd "$BUILD/app"
exec_status=0
./vexa "$@" || exec_status=$?
exit $exec_status
