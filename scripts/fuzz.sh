#!/bin/sh
# Builds every fuzz target (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in build-fuzz/
# and runs each for SECONDS (default 60), one after another.
#   scripts/fuzz.sh [SECONDS]
# Fails on any crash, leak, sanitizer report, broken property or input that takes over 10 s; the input
# that did it is left in fuzz/artifacts/<target>/. Inputs found on the way go to build-fuzz/corpus/<target>/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh --fuzz

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DROVAN_FUZZ=ON -DROVAN_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target fuzz_all

export UBSAN_OPTIONS="print_stacktrace=1"
status=0
for target in catalog report report_roundtrip query bus_address; do
    artifacts=fuzz/artifacts/$target
    corpus=$build/corpus/$target
    log=$build/fuzz-$target.log
    mkdir -p "$artifacts" "$corpus"
    dict=
    case $target in
        catalog|report) dict=-dict=fuzz/dict/xml.dict ;;
        query) dict=-dict=fuzz/dict/query.dict ;;
    esac
    # New inputs go to the first corpus folder, so the checked-in seeds stay as they are; the inputs that
    # once failed are seeds as well. The targets' own console output is closed; the fuzzer and the
    # sanitizers still report.
    inputs=fuzz/corpus/$target
    [ -d "fuzz/regressions/$target" ] && inputs="$inputs fuzz/regressions/$target"
    # shellcheck disable=SC2086
    if "$build/fuzz/fuzz_$target" $dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" $inputs >"$log" 2>&1; then
        seeds=$(sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' "$log")
        final=$(sed -n 's/.*DONE *cov: \([0-9]*\).*/\1/p' "$log")
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $target: passed, $runs inputs, coverage $seeds from the corpus, $final at the end"
    else
        status=1
        echo "fuzz $target: FAILED; the input is in $artifacts/, the whole log in $log" >&2
        tail -n 60 "$log" >&2
    fi
done
exit $status
