#!/usr/bin/env bash
# Builds and runs a benchmark, the bridge's by default; starts a virtual display when none is set.
# Usage: bench/run.sh [ARGUMENTS]   (VEXA_BUILD_DIR selects the build folder, default build/;
#        VEXA_BENCH=modes runs vexa_bench_modes, and so on)
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

cmake -S "$ROOT" -B "$BUILD" -DVEXA_BUILD_BENCH=ON >/dev/null
BENCH="vexa_bench_${VEXA_BENCH:-bridge}"
cmake --build "$BUILD" --target "$BENCH" -j"$(nproc)"
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# As root QtWebEngine refuses to run sandboxed; the bench sets the runtime up like the program,
# which turns the sandbox off itself.
"$BUILD/bench/$BENCH" "$@" 2> >(grep -v -e 'Sandboxing disabled' -e 'command_buffer_proxy_impl' >&2)
