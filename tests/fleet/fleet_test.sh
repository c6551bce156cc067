#!/bin/sh
# Fleet rehearsal: the playbooks of deploy/ansible over four local hosts, each with a
# simulated server of its own, and ansible-lint over deploy/ansible.
#   fleet_test.sh SIMSERVER WORKDIR ANSIBLE_DIR
# SIMSERVER: the simulated-server builder; ANSIBLE_DIR: deploy/ansible of the source tree.
set -eu
simserver=$(realpath "$1")
work=$(realpath -m "$2")
ansible_dir=$(realpath "$3")
for tool in ansible-playbook ansible-lint; do
    command -v $tool >/dev/null || { echo "FAIL: $tool is missing; scripts/install-deps.sh installs it" >&2; exit 1; }
done
rm -rf "$work" && mkdir -p "$work"
cd "$work"
log=
export ANSIBLE_NOCOLOR=1

fail() {
    echo "FAIL: $*" >&2
    [ -f "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
    exit 1
}
# play NAME PLAYBOOK [ARG...]: status in $status, output in NAME.log
play() {
    log=$work/$1.log playbook=$ansible_dir/$2
    shift 2
    status=0
    ansible-playbook -i inventory.yml -e "rovan_reports_dir=$work/reports rovan_lock_delay=1" "$playbook" "$@" \
        >"$log" 2>&1 || status=$?
}
"$simserver" --help >help.txt && grep -q '^usage: rovan-simserver DIR' help.txt && [ ! -e ./--help ] ||
    fail "rovan-simserver --help built a server"
fw() { cat "$1/sim-state/flash/0000:$2/fw_version"; }
burns() { cat h*/sim-state/calls 2>/dev/null | grep -c '	b$' || true; }
actions() { grep -o 'action value="[^"]*"' "$1" | cut -d'"' -f2 | tr '\n' ' '; }
recap() { grep -E '^h[0-9] +:' "$log" | awk '{print $1 $4}' | tr '\n' ' '; }

# Fresh servers. h3's ConnectX-5 already runs the newest version, h2 finds the run lock
# held on its first update, h4 gets its package from a tarball.
servers() {
    for h in h1 h2 h3 h4; do
        settings=$("$simserver" "$work/$h")
        eval "$settings"
    done
    tar -czf package.tgz -C "$ROVAN_PACKAGE" .
    printf 16.35.2000 >h3/sim-state/flash/0000:05:00.0/fw_version
    printf 16.35.2000 >h3/sim-state/flash/0000:05:00.1/fw_version
    : >h2/sim-state/lock-once
}
servers
# rovan-sim, except for an update that finds lock-once in the state directory (removed,
# exit 4: another run holds the lock) or pretend (exit 0, nothing burned).
cat >rovan <<EOF
#!/bin/sh
if [ "\$1" = -su ]; then
    rm "\$ROVAN_SIM_STATE/lock-once" 2>/dev/null && exit 4
    [ -e "\$ROVAN_SIM_STATE/pretend" ] && exit 0
fi
exec $ROVAN_SIM "\$@"
EOF
chmod +x rovan
# host NAME SERVER [PACKAGE_DIR MORE]: the inventory entry of a host on the simulated server SERVER.
host() {
    echo "    '$1': {ansible_connection: local, ansible_python_interpreter: '{{ ansible_playbook_python }}',"
    echo "      rovan_command: $work/rovan, rovan_package_dir: ${3:-$work/$2/package}${4:-},"
    echo "      rovan_environment: {ROVAN_SYSROOT: $work/$2, ROVAN_SIM_STATE: $work/$2/sim-state}}"
}
{
    printf 'all:\n  hosts:\n'
    for h in h1 h2 h3; do host $h $h; done
    host h4 h4 "$work/h4-package" ", rovan_package_archive: $work/package.tgz, rovan_use_fetched_reports: true"
} >inventory.yml
# A host whose name leads out of the reports directory, on h1's server.
printf 'all:\n  hosts:\n%s\n' "$(host ../x h1)" >escape.yml

(cd "$ansible_dir" && ansible-lint --offline -q >"$work/lint.log" 2>&1) || { log=$work/lint.log; fail "ansible-lint"; }

play discover discover.yml -i escape.yml
[ $status = 2 ] && grep -q "host name ../x .*nothing done on it" "$log" && [ ! -e x.xml ] ||
    fail "discover exited $status, or ../x was not refused"
[ "$(ls reports)" = "$(printf 'fleet.csv\nh1.xml\nh2.xml\nh3.xml\nh4.xml')" ] || fail "reports: $(ls reports)"
expected="host,address,psid,installed,newest,action"
for h in h1 h2 h3 h4; do
    cx5="16.10.700,16.35.2000,upgrade"
    [ $h = h3 ] && cx5="16.35.2000,16.35.2000,rewrite"
    expected="$expected
$h,0000:05:00.0,MT_0000000080,$cx5
$h,0000:06:00.0,MT_2420110034,14.32.1010,14.32.1010,rewrite"
done
[ "$(cat reports/fleet.csv)" = "$expected" ] || fail "fleet.csv: $(cat reports/fleet.csv)"

# Check mode: the plan on the controller, nothing burned. h4 applies its fetched report as it is.
play check rollout.yml --check
[ $status = 0 ] && [ "$(burns)" = 0 ] && [ "$(fw h1 05:00.0)" = 16.10.700 ] || fail "check mode burned or failed"
[ "$(actions reports/h1.applied.xml)$(actions reports/h3.applied.xml)" = "upgrade Nothing Nothing Nothing " ] &&
    cmp -s reports/h4.xml reports/h4.applied.xml || fail "applied reports of check mode"

# Batches h1, h2+h3, h4, and h2's burn fails: h1 is burned, h3 finishes, h4 is never touched.
rm -f h*/sim-state/calls
echo 1 >h2/sim-state/flash/0000:05:00.0/burn_exit
play failing rollout.yml -e '{"rovan_batches": [1, 2, 1]}'
[ $status != 0 ] && [ "$(fw h1 05:00.0)" = 16.35.2000 ] && [ "$(fw h2 05:00.0)" = 16.10.700 ] ||
    fail "a failed burn on h2: rollout exited $status"
grep -q 'rovan -su exited 2' "$log" && grep -q '	b$' h2/sim-state/calls || fail "h2 not failed by its burn"
[ "$(recap)" = "h1changed=1 h2changed=0 h3changed=0 h4changed=0 " ] && [ ! -e h4/sim-state/calls ] &&
    grep -q "not rolled out: the rollout stopped after h2 failed" "$log" || fail "h4 touched: $(recap)"

# On fresh servers the whole fleet: the canary first, h2 after the held lock, h3 already current,
# h4 also rewrites its ConnectX-4 Lx as its fetched report asks, whose items' type only holds ROM.
servers
sed -i 's/"ROM"/"PXE_ROM"/' reports/h4.xml
play rollout rollout.yml
[ $status = 0 ] || fail "rollout exited $status"
[ "$(recap)" = "h1changed=1 h2changed=1 h3changed=0 h4changed=1 " ] || fail "changed hosts: $(recap)"
[ "$(fw h2 05:00.0)$(fw h4 05:00.0)" = 16.35.200016.35.2000 ] && [ ! -e h2/sim-state/lock-once ] || fail "not burned"
[ "$(grep -c '	b$' h4/sim-state/calls)/$(grep -c '	b$' h3/sim-state/calls)" = 2/0 ] || fail "h3 or h4 burns"
for h in h2 h4; do
    [ -n "$(find $h/sim-state/flash/0000:05:00.0/fw_version -newer h1/sim-state/flash/0000:05:00.0/fw_version)" ] ||
        fail "$h burned before the canary h1"
done

# A second rollout over the current fleet, every host from a fresh report; h2 shows no Mellanox function.
rm -f h*/sim-state/calls
mkdir away && mv h2/sys/bus/pci/devices/0000:0[5-7]* away/
play again rollout.yml -e rovan_use_fetched_reports=false
mv away/* h2/sys/bus/pci/devices/
[ $status = 0 ] && [ "$(burns)" = 0 ] || fail "second rollout exited $status or burned"
[ "$(recap)" = "h1changed=0 h2changed=0 h3changed=0 h4changed=0 " ] || fail "second rollout changed: $(recap)"

# In one batch, h1's update exits 0 but burns nothing: the report afterwards shows it; h3's package
# lacks the flash tool: its -d finds no adapter while the PCI bus shows them.
printf 16.10.700 >h1/sim-state/flash/0000:05:00.0/fw_version
: >h1/sim-state/pretend
rm h3/package/nic_fw/mstflint
play pretend rollout.yml -l h1,h3 -e '{"rovan_batches": [2], "rovan_use_fetched_reports": false}'
[ $status != 0 ] && grep -q "0000:05:00.0 runs 16.10.700, not the package's newest 16.35.2000" "$log" ||
    fail "an update that burned nothing passed"
grep -q 'h3.*rovan -d exited 2 .*functions 0000:05:00.0, 0000:05:00.1, 0000:06:00.0, 0000:07:00.0;' "$log" ||
    fail "h3 without its flash tool passed"

# h3's adapters cannot be queried (its package still lacks the flash tool): no report, its earlier
# one removed, the others listed; h2's board reports a formula as its PSID.
printf '=SUM(1+2)' >h2/sim-state/flash/0000:05:00.0/psid
play noreport discover.yml
[ $status = 0 ] && grep -q '"no report: h3"' "$log" && [ ! -e reports/h3.xml ] || fail "h3 without report"
[ "$(grep -c '^h[124],' reports/fleet.csv)/$(grep -c '^h3,' reports/fleet.csv)" = 6/0 ] || fail "fleet.csv without h3"
grep -qx "h2,0000:05:00.0,'=SUM(1+2),16.35.2000,,Nothing" reports/fleet.csv || fail "fleet.csv: $(cat reports/fleet.csv)"
echo "fleet rehearsal passed"
