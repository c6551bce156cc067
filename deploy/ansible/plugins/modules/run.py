#!/usr/bin/python
"""Runs rovan with --json on a host and judges the result document it prints."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r"""
---
module: run
short_description: Run rovan's discovery or report-driven update and judge its result document
description:
  - Runs C(rovan -d REPORT --json) or C(rovan -su REPORT --json) in the package directory and reads the one
    JSON document rovan prints (the repository's C(docs/result-json.md)). Nothing parses console text.
  - The task fails on the result C(failed), C(fatal), C(busy), C(usage) or C(quit), on any adapter rovan
    could not query (with its address and reason), and on any burn that did not succeed (with the adapter,
    the flash tool's status and its last lines). Retry a run that found the run lock held with C(until) on
    C(document.result), as the role does.
  - Discovery runs in check mode too; it changes no firmware. The update does not run in check mode; the
    task then reports the burns of C(plan) as changes.
options:
  command:
    description: The program to run, taken from C(chdir) when relative.
    type: str
    required: true
  chdir:
    description: The unpacked update package on the host; rovan runs there.
    type: path
    required: true
  mode:
    description: C(discover) runs C(rovan -d), C(update) runs C(rovan -su).
    type: str
    required: true
    choices: [discover, update]
  report:
    description: The discovery report, relative to C(chdir).
    type: str
    default: nicdiscovery.xml
  pci_devices_dir:
    description:
      - C(discover) only. The host's PCI functions in sysfs. A host whose bus shows functions of vendor 15B3
        of which the document lists none fails; one that shows none, and of which rovan lists no adapter,
        has nothing to roll out and does not fail.
    type: path
  plan:
    description:
      - C(update) only. The devices of the report to apply (address, psid, installed, newest, burn), for the
        changes and the diff of check mode.
    type: list
    elements: dict
    default: []
author:
  - rovan developers
"""

EXAMPLES = r"""
- name: Update the firmware as the report in the package directory asks
  rovan.fleet.run:
    command: ./rovan
    chdir: /opt/rovan/package
    mode: update
"""

RETURN = r"""
document:
  description: rovan's result document; null in check mode for C(update), or when rovan printed none.
  returned: always
  type: dict
status:
  description: rovan's exit status; null when it did not run. (Not C(rc), which Ansible reads as the task's failure.)
  returned: always
  type: int
has_report:
  description: C(discover) wrote its report (exit status 0).
  returned: always
  type: bool
functions:
  description: C(discover) with C(pci_devices_dir), the functions of vendor 15B3 on the PCI bus.
  returned: always
  type: list
  elements: str
reboot_required:
  description: A burn of this run succeeded; the new firmware takes effect at the next reboot.
  returned: always
  type: bool
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

# A burn's message carries this many of the flash tool's last lines.
TOOL_LINES = 3
# The layout of rovan's result document that this module reads.
SCHEMA = 1


def vendor_15b3_functions(devices_dir):
    """The PCI functions whose vendor is 15B3, by address in lower case, sorted."""
    found = []
    try:
        names = os.listdir(devices_dir)
    except OSError:
        return found
    for name in names:
        try:
            with open(os.path.join(devices_dir, name, "vendor")) as vendor:
                if vendor.read().strip().lower() == "0x15b3":
                    found.append(name.lower())
        except OSError:
            pass
    return sorted(found)


def read_document(stdout):
    """The result document, or None when standard output holds anything else."""
    try:
        document = json.loads(stdout)
    except ValueError:
        return None
    return document if isinstance(document, dict) and "result" in document else None


def burn_problem(adapter):
    """Why one burn did not succeed: the adapter, the versions, the tool's status and its last lines."""
    burn = adapter["burn"]
    status = burn.get("tool_status")
    lines = [" ".join(line.split()) for line in burn.get("tool_output") or [] if line.strip()][-TOOL_LINES:]
    text = "%s (%s): the burn %s -> %s %s, flash tool status %s" % (
        adapter["address"], adapter.get("psid") or "no PSID", burn.get("from"), burn.get("to"),
        burn.get("outcome"), "none (ended by a signal, or never started)" if status is None else status)
    if burn.get("outcome") == "not-verified":
        text += " (the tool exited 0, but the adapter then reported another version or none)"
    return text + (", its last lines: " + " | ".join(lines) if lines else ", and it printed nothing")


def judge(document, command, mode, functions):
    """Every reason for the host to fail, in the order an operator reads them."""
    problems = []
    result, status, reason = document.get("result"), document.get("status"), document.get("reason")
    adapters, unqueried = document.get("adapters") or [], document.get("unqueried") or []
    # A host without a Mellanox adapter has nothing to roll out, and must not stop the fleet.
    if mode == "discover" and not adapters and not unqueried and not functions and result != "busy":
        return problems
    if result in ("failed", "fatal", "busy", "usage", "quit"):
        problems.append("%s: result %s, status %s: %s" % (command, result, status, reason or "no reason given"))
    if unqueried:
        problems.append("adapters rovan could not query: " + ", ".join(
            "%s (%s)" % (u.get("address"), u.get("reason")) for u in unqueried))
    for adapter in adapters:
        if adapter.get("burn") and adapter["burn"].get("outcome") != "success":
            problems.append(burn_problem(adapter))
    if mode == "discover" and functions:
        listed = set(a.get("address", "").lower() for a in adapters)
        if not listed.intersection(functions):
            problems.append("the PCI bus shows the Mellanox (vendor 15B3) functions %s, yet %s listed none of "
                            "them (status %s); nothing rolled out" % (", ".join(functions), command, status))
    return problems


def firmware_lines(devices):
    return "".join("%s %s %s\n" % d for d in devices)


def update_diff(document, plan, check_mode):
    """Each adapter's version before and after: the burns of this run, or those planned."""
    if check_mode:
        before = [(d["address"], d.get("psid") or "-", d.get("installed") or "-") for d in plan]
        after = [(d["address"], d.get("psid") or "-", (d.get("newest") if d.get("burn") else d.get("installed")) or "-")
                 for d in plan]
    else:
        before, after = [], []
        for a in document.get("adapters") or []:
            burn = a.get("burn")
            was = burn["from"] if burn else a.get("installed")
            if was is None:
                continue
            before.append((a["address"], a.get("psid") or "-", was))
            after.append((a["address"], a.get("psid") or "-",
                          burn["to"] if burn and burn.get("outcome") == "success" else was))
    return {"before": firmware_lines(before), "after": firmware_lines(after), "before_header": "firmware before",
            "after_header": "firmware after (planned)" if check_mode else "firmware after"}


def main():
    module = AnsibleModule(
        argument_spec=dict(
            command=dict(type="str", required=True),
            chdir=dict(type="path", required=True),
            mode=dict(type="str", required=True, choices=["discover", "update"]),
            report=dict(type="str", default="nicdiscovery.xml"),
            pci_devices_dir=dict(type="path"),
            plan=dict(type="list", elements="dict", default=[]),
        ),
        supports_check_mode=True,
    )
    p = module.params
    flag = "-d" if p["mode"] == "discover" else "-su"
    argv = [p["command"], flag, p["report"], "--json"]
    command = "rovan %s %s" % (flag, p["report"])
    functions = vendor_15b3_functions(p["pci_devices_dir"]) if p["mode"] == "discover" and p["pci_devices_dir"] else []
    result = dict(changed=False, document=None, status=None, has_report=False, functions=functions, reboot_required=False)

    if p["mode"] == "update" and module.check_mode:
        planned = [d for d in p["plan"] if d.get("burn")]
        result.update(changed=bool(planned), msg="check mode: %d burns planned, none run" % len(planned))
        if module._diff:
            result["diff"] = update_diff(None, p["plan"], True)
        module.exit_json(**result)

    if not os.path.isdir(p["chdir"]):
        module.fail_json(msg="the package directory %s is missing on the host%s" % (
            p["chdir"], "; check mode unpacks no package" if module.check_mode else ""), **result)

    try:
        rc, out, err = module.run_command(argv, cwd=p["chdir"], expand_user_and_vars=False, handle_exceptions=False)
    except OSError as e:
        module.fail_json(msg="cannot run %s in %s: %s" % (p["command"], p["chdir"], e), **result)
    document = read_document(out)

    result.update(status=rc, document=document)
    if document is None:
        head = [line.strip() for line in out.splitlines() if line.strip()][:1]
        tail = " | ".join(line for line in err.splitlines()[-TOOL_LINES:] if line.strip())
        module.fail_json(msg="%s --json exited %s without a result document on standard output%s%s" % (
            command, rc, "; it begins: " + head[0][:120] if head else "",
            "; standard error ends: " + tail if tail else ""), **result)

    if document.get("schema") != SCHEMA:
        module.fail_json(msg="%s --json printed a result document of schema %s; this collection reads schema %d" % (
            command, document.get("schema"), SCHEMA), **result)
    result["has_report"] = p["mode"] == "discover" and document.get("status") == 0
    result["reboot_required"] = bool(document.get("reboot_required"))
    if p["mode"] == "update":
        result["changed"] = any((a.get("burn") or {}).get("outcome") == "success"
                                for a in document.get("adapters") or [])
        if module._diff:
            result["diff"] = update_diff(document, [], False)
    problems = judge(document, command, p["mode"], functions)
    if problems:
        module.fail_json(msg="; ".join(problems), **result)
    if p["mode"] == "discover" and not document.get("adapters"):
        result["msg"] = "no Mellanox adapter: nothing to roll out"
    else:
        result["msg"] = "%s: result %s, status %s" % (command, document.get("result"), document.get("status"))
    module.exit_json(**result)


if __name__ == "__main__":
    main()
