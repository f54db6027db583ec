#!/usr/bin/env bash
# Builds and runs benchmarks; starts a virtual display when none is set.
# Usage: bench/run.sh [ARGS]        the bridge benchmark, or VEXA_BENCH's (ARGS go to it)
#        bench/run.sh all           every benchmark built into <build>/bench, then one table of
#                                   each one's headline figures set against its anchor
#        bench/run.sh NAME [ARGS]   one benchmark, vexa_bench_NAME
# VEXA_BUILD_DIR selects the build folder (default build/). Exits non-zero when a benchmark failed
# (it measured nothing, or lost data).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

cmake -S "$ROOT" -B "$BUILD" -DVEXA_BUILD_BENCH=ON >/dev/null
ensure_runtime_dir
ensure_display
trap stop_display EXIT

# As root QtWebEngine refuses to run sandboxed; the benchmarks that host it set the runtime up
# like the program, which turns the sandbox off itself.
quiet_web() { grep -v -e 'Sandboxing disabled' -e 'command_buffer_proxy_impl' >&2; }

if [ "${1:-}" != "all" ]; then
    name="${VEXA_BENCH:-bridge}"
    if [ $# -gt 0 ] && [ -f "$ROOT/bench/bench_$1.cpp" ]; then name="$1"; shift; fi
    cmake --build "$BUILD" --target "vexa_bench_$name" -j2
    "$BUILD/bench/vexa_bench_$name" "$@" 2> >(quiet_web)
    exit
fi

cmake --build "$BUILD" -j2
LOGS="$(mktemp -d "${TMPDIR:-/tmp}/vexa-bench-XXXXXX")"
failed=()
for program in "$BUILD"/bench/vexa_bench_*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    name="${program##*/vexa_bench_}"
    echo "== $name"
    set +e
    "$program" 2> >(quiet_web) | tee "$LOGS/$name.out"
    code=${PIPESTATUS[0]}
    set -e
    echo "$code" > "$LOGS/$name.code"
    [ "$code" -eq 0 ] || failed+=("$name")
done

# One row per figure: what the benchmark printed as RATIO lines (bench/bench_report.h); for the
# profile benchmark, which prints its own table, the p50/bare column of that table.
echo
printf '%-10s %-42s %12s %-22s %12s %-4s %8s  %s\n' benchmark measure value anchor "anchor value" unit ratio status
for out in "$LOGS"/*.out; do
    name="$(basename "$out" .out)"
    code="$(cat "$LOGS/$name.code")"
    status=ok
    [ "$code" -eq 0 ] || status="FAILED (exit $code)"
    rows="$(awk -F'\t' '$1 == "RATIO" { print $2 "\t" $3 "\t" $4 "\t" $5 "\t" $6 }' "$out")"
    if [ -z "$rows" ] && [ "$name" = profile ]; then
        rows="$(awk '/^bare/ && $(NF-3) ~ /^[0-9]+K$/ { bare[$(NF-3)] = $(NF-2) }
                     $NF ~ /^[0-9.]+$/ && $(NF-3) ~ /^[0-9]+K$/ && !/^bare/ {
                     label = $1 " " $(NF-3); printf "%s p50\t%s\tbare pugixml\t%s\tms\n", label, $(NF-2), bare[$(NF-3)] }' "$out")"
    fi
    if [ -z "$rows" ]; then
        printf '%-10s %-42s %12s %-22s %12s %-4s %8s  %s\n' "$name" "(no figure against an anchor)" - - - - - "$status"
        continue
    fi
    while IFS=$'\t' read -r what value anchor anchorValue unit; do
        ratio="$(awk -v v="$value" -v a="$anchorValue" 'BEGIN { if (a > 0) printf "%.3f", v / a; else print "-" }')"
        printf '%-10s %-42s %12s %-22s %12s %-4s %8s  %s\n' "$name" "$what" "$value" "$anchor" "$anchorValue" "$unit" "$ratio" "$status"
    done <<< "$rows"
done
rm -rf "$LOGS"
if [ ${#failed[@]} -gt 0 ]; then
    echo "benchmarks that measured nothing or lost data: ${failed[*]}" >&2
    exit 1
fi
