#!/usr/bin/env bash
# Builds and runs one benchmark (default: the bridge); starts a virtual display when none is set.
# Usage: bench/run.sh [bridge|profile|modes|padio|...] [arguments]   (VEXA_BUILD_DIR selects the
# build folder, default build/; VEXA_BENCH=name names the benchmark too). Its exit status is the
# benchmark's: non-zero when it measured nothing or missed its goal.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

name="${VEXA_BENCH:-bridge}"
if [ $# -gt 0 ] && [ -f "$ROOT/bench/bench_$1.cpp" ]; then
    name="$1"
    shift
fi
cmake -S "$ROOT" -B "$BUILD" -DVEXA_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD" --target "vexa_bench_$name" -j"$(nproc)"
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# As root QtWebEngine refuses to run sandboxed; the bench sets the runtime up like the program,
# which turns the sandbox off itself.
"$BUILD/bench/vexa_bench_$name" "$@" 2> >(grep -v -e 'Sandboxing disabled' -e 'command_buffer_proxy_impl' >&2)
