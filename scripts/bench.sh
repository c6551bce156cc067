#!/bin/sh
# Times rovan-sim on simulated servers of 32 adapters with a 2,000-entry catalog, beside the bare
# queries of the same stand-in flash tool, -u over a 1,000-device report against a 20,000-entry
# catalog, and silent upgrades that burn every adapter: 8 adapters whose burn takes 2 s, and the 32
# adapters with a 100 ms query. Prints median wall times; a benchmark, not a test: it fails on nothing.
#   scripts/bench.sh [RUNS]      RUNS per figure, 7 by default
#   BENCH_SIM=/path/rovan-sim    times another build of rovan-sim on the same servers
set -eu
cd "$(dirname "$0")/.."
runs=${1:-7}

cmake -S . -B build >/dev/null
cmake --build build -j2 --target rovan-simserver >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/rovan-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }

# Median wall time in seconds of RUNS runs of the command.
median() {
    i=0
    while [ "$i" -lt "$runs" ]; do
        start=$(now)
        "$@" >/dev/null 2>&1 || true
        echo $(( $(now) - start ))
        i=$((i + 1))
    done | sort -n | awk '{ t[NR] = $1 } END { printf "%.3f", t[int((NR + 1) / 2)] / 1e9 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Builds a server into $work/$1 (ADAPTERS ENTRIES QUERY_MS REPORT_DEVICES [BURN_SECONDS]) and enters its package.
server() {
    name=$1
    shift
    eval "$(build/sim/rovan-simserver --bench "$@" "$work/$name")"
    export ROVAN_SYSROOT ROVAN_SIM_STATE
    sim=${BENCH_SIM:-$ROVAN_SIM}
    cd "$ROVAN_PACKAGE"
}

# One query of every adapter, COUNT times over: what one run per label and adapter took, one by one.
bare_queries() {
    n=0
    while [ "$n" -lt "$1" ]; do
        for dev in "$ROVAN_SIM_STATE"/flash/*; do
            ./nic_fw/mstflint -d "$(basename "$dev")" q
        done
        n=$((n + 1))
    done
}

# The adapters back on the version they had, so that every run burns them all again.
unburned() {
    for dev in "$ROVAN_SIM_STATE"/flash/*; do
        printf 16.35.2000 >"$dev/fw_version"
    done
}

# A silent upgrade that burns every adapter.
burn_all() {
    unburned
    "$sim" -s
}

# One burn of one adapter by the stand-in alone.
bare_burn() {
    unburned
    ./nic_fw/mstflint -s -y -d 0000:10:00.0 -i ./nic_fw/bench-MT_0000000000.bin b
}

echo "rovan-sim: ${BENCH_SIM:-build/rovan-sim}; median of $runs runs each"

(
    server slow 32 2000 100 0
    one=$(median ./nic_fw/mstflint -d 0000:10:00.0 q)
    c=$(median "$sim" -c)
    d=$(median "$sim" -d)
    echo "32 adapters, 2000 catalog entries, 100 ms query:"
    echo "  one bare query $one s;  -c $c s ($(ratio "$c" "$one") x);  -d $d s ($(ratio "$d" "$one") x)  [target: within 3 x]"
)
(
    server instant 32 2000 0 0
    bare=$(median bare_queries 3)
    c=$(median "$sim" -c)
    d=$(median "$sim" -d)
    echo "32 adapters, 2000 catalog entries, instant query:"
    echo "  96 bare queries $bare s;  -c $c s ($(ratio "$c" "$bare") x);  -d $d s ($(ratio "$d" "$bare") x)  [target: -c within 0.4 x]"
)
(
    server report 0 20000 0 1000
    u=$(median "$sim" -u bench-report.xml)
    echo "-u of 1000 report devices, 20000 catalog entries: $u s  [target: well under 5 s]"
)
(
    server burn8 8 8 0 0 2
    one=$(median bare_burn)
    s=$(median burn_all)
    echo "8 adapters, 2 s burn:"
    echo "  one bare burn $one s;  -s $s s ($(ratio "$s" "$one") x)  [target: within 1.5 x]"
)
(
    server burn32 32 2000 100 0 0
    one=$(median ./nic_fw/mstflint -d 0000:10:00.0 q)
    s=$(median burn_all)
    echo "32 adapters, 2000 catalog entries, 100 ms query, every adapter burned:"
    echo "  one bare query $one s;  -s $s s ($(ratio "$s" "$one") x)  [target: within 5 x]"
)
