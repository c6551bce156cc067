#!/bin/sh
# A guided tour of rovan on a simulated server: no adapter needed, nothing
# touched outside build/demo-server and build/demo-fleet.
set -eu
cd "$(dirname "$0")/.."
repo=$PWD
simserver=$repo/build/sim/rovan-simserver  # the simulated-server builder
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target rovan-sim rovan-simserver >/dev/null

eval "$("$simserver" "$repo/build/demo-server")"
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

step "6. Fleet rehearsal with the Ansible collection rovan.fleet, built and installed from its archive: four simulated servers as local hosts. discover fetches their reports, writes fleet.csv and fleet.json and sums the fleet up; rollout --check --diff shows the plan and burns nothing; rollout burns the ConnectX-5s one batch after another, a canary first; a second rollout finds nothing to do"
fleet=$repo/build/demo-fleet
rm -rf "$fleet" && mkdir -p "$fleet"
{
    echo "all:"
    echo "  hosts:"
    for h in server1 server2 server3 server4; do
        settings=$("$simserver" "$fleet/$h")
        eval "$settings"
        echo "    $h: {ansible_connection: local, ansible_python_interpreter: '{{ ansible_playbook_python }}',"
        echo "      rovan_command: $ROVAN_SIM, rovan_package_dir: $ROVAN_PACKAGE,"
        echo "      rovan_environment: {ROVAN_SYSROOT: $ROVAN_SYSROOT, ROVAN_SIM_STATE: $ROVAN_SIM_STATE}}"
    done
} >"$fleet/inventory.yml"
cd "$repo"
export ANSIBLE_COLLECTIONS_PATH="$fleet/collections"
echo "\$ ansible-galaxy collection build deploy/ansible --output-path build/demo-fleet"
ansible-galaxy collection build deploy/ansible --output-path "$fleet" >/dev/null
echo "\$ ansible-galaxy collection install -p build/demo-fleet/collections build/demo-fleet/rovan-fleet-*.tar.gz"
ansible-galaxy collection install -p "$fleet/collections" "$fleet"/rovan-fleet-*.tar.gz >/dev/null
play() {
    echo "\$ ansible-playbook -i build/demo-fleet/inventory.yml -e rovan_reports_dir=build/demo-fleet/reports $*"
    status=0
    ANSIBLE_DISPLAY_SKIPPED_HOSTS=false ansible-playbook -i "$fleet/inventory.yml" -e "rovan_reports_dir=$fleet/reports" \
        "$@" || status=$?
    echo "(exit status $status)"
}
play rovan.fleet.discover
cat build/demo-fleet/reports/fleet.csv
play --check --diff rovan.fleet.rollout
grep '<action' build/demo-fleet/reports/server1.applied.xml
play rovan.fleet.rollout
play rovan.fleet.rollout
