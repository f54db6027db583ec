#!/usr/bin/env bash
# Installs what is missing, builds warning-free, and runs every test (GUI tests on a virtual
# display with a window manager when none is set).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_packages
build -DVEXA_WERROR=ON "$@"
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# Test programs that host QtWebEngine themselves run as root on CI machines.
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$BUILD"
ctest --output-on-failure --timeout 300
