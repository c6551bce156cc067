#!/bin/sh
# Fleet rehearsal: the collection of deploy/ansible, built and installed from its archive, over four
# local hosts, each with a simulated server of its own, and ansible-lint over its source.
#   fleet_test.sh SIMSERVER(the simulated-server builder) WORKDIR ANSIBLE_DIR(deploy/ansible)
set -eu
simserver=$(realpath "$1")
work=$(realpath -m "$2")
ansible_dir=$(realpath "$3")
for tool in ansible-playbook ansible-galaxy ansible-lint; do
    command -v $tool >/dev/null || { echo "FAIL: $tool is missing; scripts/install-deps.sh installs it" >&2; exit 1; }
done
rm -rf "$work" && mkdir -p "$work"
cd "$work"
log=
export ANSIBLE_NOCOLOR=1 ANSIBLE_PIPELINING=1 ANSIBLE_COLLECTIONS_PATH="$work/collections"

fail() {
    echo "FAIL: $*" >&2
    [ -f "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
    exit 1
}
# play NAME PLAYBOOK [ARG...]: status in $status, output in NAME.log
play() {
    log=$work/$1.log playbook=rovan.fleet.$2
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

log=$work/build.log
{ ansible-galaxy collection build "$ansible_dir" --output-path "$work" &&
    ansible-galaxy collection install -p "$work/collections" "$work"/rovan-fleet-*.tar.gz; } >"$log" 2>&1 ||
    fail "the collection did not build or install"
(cd "$ansible_dir" && ansible-lint -q >"$work/lint.log" 2>&1) || { log=$work/lint.log; fail "ansible-lint"; }

# Fresh servers. h3's ConnectX-5 already runs the newest version, h2 finds the run lock held
# on its first update, h4 gets its package from a tarball.
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
# rovan-sim; an update that finds lock-once in the state directory runs while the run lock is held.
cat >rovan <<EOF
#!/bin/sh
[ "\$1" = -su ] && rm "\$ROVAN_SIM_STATE/lock-once" 2>/dev/null && exec flock "\$ROVAN_SYSROOT/run/rovan.lock" $ROVAN_SIM "\$@"
exec $ROVAN_SIM "\$@"
EOF
chmod +x rovan
# The operator's hook: notes the host's ConnectX-5 version before and after its update; h2's
# before-hook fails when fail_drain is set.
cat >hook.yml <<EOF
- name: Note the hook
  ansible.builtin.shell: echo "{{ 'after' if rovan_update is defined else 'before' }} {{ inventory_hostname }}
    \$(cat {{ rovan_environment.ROVAN_SIM_STATE }}/flash/0000:05:00.0/fw_version)" >>$work/hooks.txt
  changed_when: false
- name: Fail the drain of h2
  ansible.builtin.fail:
    msg: h2 could not be drained
  when: inventory_hostname == 'h2' and fail_drain is defined
EOF
# host NAME SERVER [PACKAGE_DIR MORE]: the inventory entry of a host on the simulated server SERVER.
host() {
    echo "    '$1': {ansible_connection: local, ansible_python_interpreter: '{{ ansible_playbook_python }}',"
    echo "      rovan_command: $work/rovan, rovan_package_dir: ${3:-$work/$2/package}${4:-},"
    echo "      rovan_environment: {ROVAN_SYSROOT: $work/$2, ROVAN_SIM_STATE: $work/$2/sim-state}}"
}
{
    printf 'all:\n  hosts:\n'
    for h in h1 h2 h3; do host $h $h; done
    host h4 h4 "$work/h4-package" ", rovan_package_archive: package.tgz, rovan_use_fetched_reports: true"
} >inventory.yml
# A host whose name leads out of the reports directory, on h1's server.
printf 'all:\n  hosts:\n%s\n' "$(host ../x h1)" >escape.yml

# A wrong value is refused for every host before any is touched.
play wrong rollout -e '{"rovan_apply_actions": ["upgrade", "upgrad"]}'
[ $status = 2 ] && grep -q 'rovan_apply_actions must be one or more of: upgrade, rewrite, downgrade. Got no match for: upgrad' "$log" &&
    [ -z "$(ls h*/sim-state/calls 2>/dev/null)" ] || fail "a wrong rovan_apply_actions was not refused at once"

play discover discover -i escape.yml
[ $status = 2 ] && grep -q "host name ../x .*nothing done on it" "$log" && [ ! -e x.xml ] ||
    fail "discover exited $status, or ../x was not refused"
[ "$(ls reports)" = "$(printf 'fleet.csv\nfleet.json\nh1.xml\nh2.xml\nh3.xml\nh4.xml')" ] || fail "reports: $(ls reports)"
expected="host,address,psid,installed,newest,action,unqueried"
for h in h1 h2 h3 h4; do
    cx5="16.10.700,16.35.2000,upgrade"
    [ $h = h3 ] && cx5="16.35.2000,16.35.2000,rewrite"
    expected="$expected
$h,0000:05:00.0,MT_0000000080,$cx5,
$h,0000:06:00.0,MT_2420110034,14.32.1010,14.32.1010,rewrite,"
done
[ "$(cat reports/fleet.csv)" = "$expected" ] || fail "fleet.csv: $(cat reports/fleet.csv)"
grep -q '"hosts: 5, failed: ../x, without a Mellanox adapter: none"' "$log" &&
    grep -q '"adapters: 8, with an update available: 3, unqueried: 0"' "$log" &&
    grep -q '"board MT_0000000080, version 16.10.700: 3, update available: 16.35.2000"' "$log" || fail "the summary"

# Check mode, every host from a fresh report: the plan on the controller and as a diff, nothing
# burned. h4's plan comes from its tarball's catalog, not from the one unpacked on the host, which
# lacks the newest image and stays so.
sed -i '/rom="16.35.2000"/d' h4-package/nic_fw/NICFWData.xml
play check rollout --check --diff -e '{"rovan_batches": [4], "rovan_use_fetched_reports": false}'
[ $status = 0 ] && [ "$(burns)" = 0 ] && [ "$(fw h1 05:00.0)" = 16.10.700 ] || fail "check mode burned or failed"
[ "$(actions reports/h4.applied.xml)$(actions reports/h3.applied.xml)" = "upgrade Nothing Nothing Nothing " ] ||
    fail "applied reports of check mode"
! grep -q 16.35.2000 h4-package/nic_fw/NICFWData.xml && grep -q '^-0000:05:00.0 MT_0000000080 16.10.700' "$log" &&
    grep -q '^+0000:05:00.0 MT_0000000080 16.35.2000' "$log" || fail "check mode unpacked, or showed no diff"

# Tags: the plan and the verification, no update: h1 fails its verification untouched.
rm reports/h1.applied.xml
play tags rollout --tags plan,verify -l h1
[ $status != 0 ] && [ "$(burns)" = 0 ] && [ -e reports/h1.applied.xml ] && [ ! -e hooks.txt ] &&
    grep -q "0000:05:00.0 runs 16.10.700, not the package's newest 16.35.2000" "$log" || fail "--tags plan,verify"

# Batches h1, h2+h3, h4, and h2's burn fails: h1 is burned, h3 finishes, h4 is never touched.
# The hooks run around h1's update; h2 stays drained.
rm -f h*/sim-state/calls
echo 1 >h2/sim-state/flash/0000:05:00.0/burn_exit
play failing rollout -e '{"rovan_batches": [1, 2, 1]}' -e "rovan_before_update_tasks=hook.yml rovan_after_update_tasks=$work/hook.yml"
[ $status != 0 ] && [ "$(fw h1 05:00.0)" = 16.35.2000 ] && [ "$(fw h2 05:00.0)" = 16.10.700 ] ||
    fail "a failed burn on h2: rollout exited $status"
grep -q '0000:05:00.0 (MT_0000000080): the burn 16.10.700 -> 16.35.2000 failed, flash tool status 1, its last lines: .*-E- Burning FW image failed: flash write error on 0000:05:00.0' "$log" &&
    grep -q '	b$' h2/sim-state/calls || fail "h2 not failed by its burn, with the tool's last line"
grep -q '"outcome":"failed"' reports/h2/history.jsonl && [ -s reports/h2/mstflint.log ] || fail "h2's history not fetched"
[ "$(cat hooks.txt)" = "$(printf 'before h1 16.10.700\nafter h1 16.35.2000\nbefore h2 16.10.700')" ] || fail "hooks: $(cat hooks.txt)"
[ "$(recap)" = "h1changed=1 h2changed=0 h3changed=0 h4changed=0 " ] && [ ! -e h4/sim-state/calls ] &&
    grep -q "not rolled out: the rollout stopped after h2 failed" "$log" || fail "h4 touched: $(recap)"

# On fresh servers the whole fleet: the canary first, h2 after the held lock, h3 already current,
# h4 also rewrites its ConnectX-4 Lx as its fetched report asks, whose items' type only holds ROM.
servers
sed -i 's/"ROM"/"PXE_ROM"/' reports/h4.xml
play rollout rollout --diff
[ $status = 0 ] || fail "rollout exited $status"
[ "$(recap)" = "h1changed=1 h2changed=1 h3changed=0 h4changed=1 " ] || fail "changed hosts: $(recap)"
[ "$(fw h2 05:00.0)$(fw h4 05:00.0)" = 16.35.200016.35.2000 ] && [ ! -e h2/sim-state/lock-once ] || fail "not burned"
[ "$(grep -c '	b$' h4/sim-state/calls)/$(grep -c '	b$' h3/sim-state/calls)" = 2/0 ] || fail "h3 or h4 burns"
for h in h2 h4; do
    [ -n "$(find $h/sim-state/flash/0000:05:00.0/fw_version -newer h1/sim-state/flash/0000:05:00.0/fw_version)" ] ||
        fail "$h burned before the canary h1"
done
[ "$(grep -c '^+0000:05:00.0 MT_0000000080 16.35.2000' "$log")" = 3 ] && ! grep -q 'would reboot' "$log" ||
    fail "the update's diff, or a reboot without rovan_reboot"

# A second rollout over the current fleet, every host from a fresh report; h2 shows no Mellanox function.
rm -f h*/sim-state/calls
mkdir away && mv h2/sys/bus/pci/devices/0000:0[5-7]* away/
play again rollout -e '{"rovan_batches": [4], "rovan_use_fetched_reports": false}'
mv away/* h2/sys/bus/pci/devices/
[ $status = 0 ] && [ "$(burns)" = 0 ] || fail "second rollout exited $status or burned"
[ "$(recap)" = "h1changed=0 h2changed=0 h3changed=0 h4changed=0 " ] || fail "second rollout changed: $(recap)"

# With rovan_reboot, in one batch: h1's burn notifies the reboot (which a local connection
# refuses), h2's failing before-hook leaves it unburned, h3 burns nothing and is not rebooted.
printf 16.10.700 >h1/sim-state/flash/0000:05:00.0/fw_version
printf 16.10.700 >h2/sim-state/flash/0000:05:00.0/fw_version
play reboot rollout -l h1,h2,h3 -e '{"rovan_batches": [3], "rovan_reboot": true, "fail_drain": 1}' \
    -e rovan_before_update_tasks=hook.yml
[ $status != 0 ] && [ "$(fw h1 05:00.0)/$(fw h2 05:00.0)" = 16.35.2000/16.10.700 ] &&
    ! grep -q '	b$' h2/sim-state/calls && grep -q 'h2 could not be drained' "$log" || fail "h2's failed drain"
[ "$(grep 'would reboot the control node' "$log" | grep -o '^fatal: \[h[0-9]\]' | sort -u)" = "fatal: [h1]" ] ||
    fail "the reboot handler not run on h1 alone"

# Discovery: h3's adapters cannot be queried (its package lacks the flash tool), h1's PCI
# functions are not of a network class, so rovan lists none; both fail, named, with no report.
# h2's board reports a formula as its PSID.
rm h3/package/nic_fw/mstflint
for f in h1/sys/bus/pci/devices/0000:0[5-7]*; do printf '0x010802\n' >"$f/class"; done
printf '=SUM(1+2)' >h2/sim-state/flash/0000:05:00.0/psid
play noreport discover
[ $status = 2 ] && [ ! -e reports/h3.xml ] && [ ! -e reports/h1.xml ] || fail "h1 or h3 with a report"
grep -q 'h3.*adapters rovan could not query: 0000:05:00.0 (tool-missing), 0000:06:00.0 (tool-missing)' "$log" &&
    grep -q 'h1.*the PCI bus shows the Mellanox (vendor 15B3) functions 0000:05:00.0, 0000:05:00.1, 0000:06:00.0, 0000:07:00.0, yet rovan -d' "$log" ||
    fail "h1 or h3 not failed with their adapters"
grep -q '"hosts: 4, failed: h1, h3, without a Mellanox adapter: none"' "$log" &&
    grep -q '"unqueried: h3 0000:05:00.0 (tool-missing)"' "$log" || fail "the summary of failed hosts"
python3 -c 'import json,sys; rows = json.load(open(sys.argv[1]))
assert [r["unqueried"] for r in rows if r["host"] == "h3"][0] == "tool-missing" and rows[0]["host"] == "h2"' reports/fleet.json ||
    fail "fleet.json: $(cat reports/fleet.json)"
[ "$(grep -c '^h[24],' reports/fleet.csv)/$(grep -c '^h1,' reports/fleet.csv)" = 4/0 ] || fail "fleet.csv: $(cat reports/fleet.csv)"
grep -qx "h2,0000:05:00.0,'=SUM(1+2),16.10.700,,Nothing," reports/fleet.csv || fail "fleet.csv: $(cat reports/fleet.csv)"
echo "fleet rehearsal passed"
