#!/usr/bin/env bash
# Installs what is missing, builds warning-free, and runs every test (GUI tests on a virtual
# display with a window manager when none is set).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_packages
build -DVEXA_WERROR=ON "$@"
install_test_tools
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# Test programs that host QtWebEngine themselves run as root on CI machines.
export QTWEBENGINE_DISABLE_SANDBOX=1
# Screenshots of every screen taken by the page test, kept for CI to collect and people to look at.
export VEXA_SCREENSHOT_DIR="${VEXA_SCREENSHOT_DIR:-$BUILD/screenshots}"
cd "$BUILD"
ctest --output-on-failure --timeout 300
