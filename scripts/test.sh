#!/bin/sh
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/;
#                               fails on any finding, also in the programs the tests run
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
    build=build-sanitize
    sanitize=ON
fi
jobs=$(nproc 2>/dev/null || echo 2)

# The sanitizer build is for finding faults, not speed: unoptimised builds faster.
type=RelWithDebInfo
[ "$sanitize" = ON ] && type=Debug
cmake -S . -B "$build" -DROVAN_SANITIZE=$sanitize -DCMAKE_BUILD_TYPE=$type >/dev/null
cmake --build "$build" -j"$jobs"

if [ "$sanitize" = ON ]; then
    # Not under /tmp: the sanitizer runtime makes the directory again inside a test's private /tmp mount,
    # where the findings of the utility it runs there would be lost (and the test sees a stray file).
    findings=$(mktemp -d /var/tmp/rovan-findings.XXXXXX)
    trap 'rm -rf "$findings"' EXIT
    # Findings in any sanitized process, the utility run by a test included,
    # land in $findings even when that test passes.
    export ASAN_OPTIONS="log_path=$findings/asan:exitcode=86:detect_leaks=1"
    export UBSAN_OPTIONS="log_path=$findings/ubsan:halt_on_error=1:print_stacktrace=1:exitcode=87"
    status=0
    ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" || status=$?
    if [ -n "$(ls -A "$findings")" ]; then
        echo "sanitizer findings:" >&2
        cat "$findings"/* >&2
        exit 1
    fi
    exit $status
fi
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs"
