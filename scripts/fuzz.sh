#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each on its seeds for a
# bounded time, after running once each input known to have hurt the program. Fails on any crash,
# leak, timeout, memory blow-up or undefined behaviour; the inputs that found something are kept
# in <build>/findings. Nothing is written into the tree: the corpus grows in a temporary copy.
#
#   scripts/fuzz.sh [seconds per target]     (default: VEXA_FUZZ_SECONDS, else 30)
#   VEXA_FUZZ_TARGETS="fuzz_device_table ..." runs only those targets.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

SECONDS_PER_TARGET="${1:-${VEXA_FUZZ_SECONDS:-30}}"
FUZZ_BUILD="${VEXA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
# One input may take this long (a hang such as a runaway XPath is a finding) and this much memory.
INPUT_TIMEOUT="${VEXA_FUZZ_TIMEOUT:-10}"
RSS_LIMIT_MB="${VEXA_FUZZ_RSS_MB:-2048}"

install_packages
cmake -S "$ROOT" -B "$FUZZ_BUILD" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXA_FUZZ=ON -DVEXA_WERROR=ON -DVEXA_BUILD_TESTS=OFF -DVEXA_BUILD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_BUILD" --target vexa_fuzzers -j"$(nproc)"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
python3 "$ROOT/fuzz/make_seeds.py" "$WORK/corpus"
python3 "$ROOT/fuzz/make_seeds.py" --hostile "$WORK/hostile"
mkdir -p "$WORK/artifacts" "$WORK/logs"

# Full unwinding on allocation: Qt is built without frame pointers, and a leak suppressed by the
# name of a Qt function is only recognised with the frames below it.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$ROOT/fuzz/lsan.supp:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
common=(-timeout="$INPUT_TIMEOUT" -rss_limit_mb="$RSS_LIMIT_MB" -print_final_stats=1)

targets="${VEXA_FUZZ_TARGETS:-$(find "$FUZZ_BUILD/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' -printf '%f\n' | sort)}"
failed=()
for target in $targets; do
    binary="$FUZZ_BUILD/fuzz/$target"
    log="$WORK/logs/$target.log"
    mkdir -p "$WORK/corpus/$target"
    status=0
    for input in "$WORK/hostile/$target"/*; do
        [ -e "$input" ] || continue
        echo "== $target: known hostile input $(basename "$input")"
        if ! "$binary" "${common[@]}" -artifact_prefix="$WORK/artifacts/$target-$(basename "$input")-" "$input" \
            >"$log.$(basename "$input")" 2>&1; then
            grep -E 'ERROR|SUMMARY|invariant|runtime error' "$log.$(basename "$input")" | head -10 || true
            status=1
        fi
    done
    echo "== $target: ${SECONDS_PER_TARGET}s"
    dict=()
    [ -f "$ROOT/fuzz/$target.dict" ] && dict=(-dict="$ROOT/fuzz/$target.dict")
    "$binary" "${common[@]}" "${dict[@]}" -max_total_time="$SECONDS_PER_TARGET" \
        -artifact_prefix="$WORK/artifacts/$target-" "$WORK/corpus/$target" >"$log" 2>&1 || status=$?
    grep -E 'ERROR|SUMMARY|invariant|runtime error|^stat::number_of_executed_units' "$log" | head -20 || true
    [ $status -eq 0 ] || failed+=("$target")
done

rm -rf "$FUZZ_BUILD/findings"
if [ ${#failed[@]} -ne 0 ]; then
    mkdir -p "$FUZZ_BUILD/findings"
    cp "$WORK/logs/"* "$FUZZ_BUILD/findings/"
    if compgen -G "$WORK/artifacts/*" >/dev/null; then cp "$WORK/artifacts/"* "$FUZZ_BUILD/findings/"; fi
    echo "Inputs and logs of the findings: $FUZZ_BUILD/findings"
    echo "Fuzzing found faults in: ${failed[*]}"
    exit 1
fi
echo "Fuzzing found nothing."
