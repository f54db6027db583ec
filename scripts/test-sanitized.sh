#!/usr/bin/env bash
# Builds the unit tests (and only what they need) with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own and runs them: any memory error, leak
# or undefined behaviour fails the test it happens in. The end-to-end tests are not built here.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

BUILD="${VEXA_SANITIZE_BUILD_DIR:-$ROOT/build-asan}"

install_packages
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE="${VEXA_BUILD_TYPE:-RelWithDebInfo}" -DVEXA_SANITIZE=ON \
    -DVEXA_WERROR=ON -DVEXA_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target vexa_unit_tests -j"$(nproc)"
ensure_runtime_dir
ensure_display
trap stop_display EXIT

export QTWEBENGINE_DISABLE_SANDBOX=1
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
cd "$BUILD"
ctest -L unit --output-on-failure --timeout 300
