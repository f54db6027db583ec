#!/usr/bin/env bash
# Builds and runs the bridge benchmark; starts a virtual display when none is set.
# Usage: bench/run.sh   (VEXA_BUILD_DIR selects the build folder, default build/)
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

cmake -S "$ROOT" -B "$BUILD" -DVEXA_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" --target vexa_bench_bridge -j"$(nproc)"
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# As root QtWebEngine refuses to run sandboxed; the bench sets the runtime up like the program,
# which turns the sandbox off itself.
"$BUILD/bench/vexa_bench_bridge" "$@" 2> >(grep -v -e 'Sandboxing disabled' -e 'command_buffer_proxy_impl' >&2)
