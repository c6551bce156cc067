#!/bin/sh
# A guided tour of rovan on a simulated server: no adapter needed, nothing
# touched outside build/demo-server.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target rovan-sim rovan-simserver >/dev/null

eval "$(build/sim/rovan-simserver "$PWD/build/demo-server")"
export ROVAN_SYSROOT ROVAN_SIM_STATE
cd "$ROVAN_PACKAGE"

step() {
    printf '\n\033[1m=== %s\033[0m\n' "$1"
}
run() {
    echo "\$ rovan-sim $*"
    status=0
    "$ROVAN_SIM" "$@" || status=$?
    echo "(exit status $status)"
}

step "1. Show current firmware (-c): a dual-port ConnectX-5 listed once, a second device of one ConnectX-4 Lx skipped, an Intel port passed over, the available versions in numeric order"
run -c

step "2. Silent upgrade (-s): the ConnectX-5 gets its newest image 16.35.2000; the ConnectX-4 Lx already has the newest and is left alone; rovan itself stays quiet, the flash tool's own lines show"
run -s

step "3. Discovery report (-d): every adapter with its installed and newest version and a recommended action"
run -d
cat nicdiscovery.xml

step "4. Report-driven update (-u): the deployment manager keeps 'rewrite' for the ConnectX-5 and sets the ConnectX-4 Lx to 'Nothing'; only the ConnectX-5 is burned"
sed -i '0,/<action value="rewrite"/! s/<action value="rewrite"/<action value="Nothing"/' nicdiscovery.xml
grep '<action' nicdiscovery.xml
run -u nicdiscovery.xml

step "5. The event log of all four runs (mstflint.log)"
cat mstflint.log
