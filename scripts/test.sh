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
# A test that skips because a tool is missing fails itself where tools are required (CI=true or
# VEXA_REQUIRE_TOOLS=1); what ctest still counts as skipped then fails the run here.
set +e
ctest --output-on-failure --timeout 300 | tee "$BUILD/ctest-last.log"
code=${PIPESTATUS[0]}
set -e
if [ "$code" -eq 0 ] && { [ "${VEXA_REQUIRE_TOOLS:-0}" != 0 ] || [ "${CI:-}" = true ]; } \
    && grep -q -e '\*\*\*Skipped' -e 'Not Run' "$BUILD/ctest-last.log"; then
    echo "tests were skipped where every tool must be installed:" >&2
    grep -e '\*\*\*Skipped' -e 'Not Run' "$BUILD/ctest-last.log" >&2
    code=1
fi
exit "$code"
