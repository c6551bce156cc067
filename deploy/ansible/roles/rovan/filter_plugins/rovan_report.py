"""Filters that read and edit rovan discovery reports on the controller.

Python standard library only: the controller needs nothing beyond ansible-core.
The reading rules follow docs/discovery-report.md.
"""

import re
import xml.etree.ElementTree as ET

# rovan -u burns a device whose action contains one of these words (lower case).
BURN_ACTION = re.compile("upgrade|rewrite|downgrade")
CSV_FIELDS = ("host", "address", "psid", "installed", "newest", "action")
# The form of each report value in fleet.csv, as rovan writes it; the host names are checked by the role.
_VERSION = re.compile(r"[0-9]+\.[0-9]+\.[0-9]+\Z")
CSV_FORMS = {
    "address": re.compile(r"(?:[0-9A-Fa-f]{1,8}:)?[0-9A-Fa-f]{1,2}:[0-9A-Fa-f]{1,2}\.[0-7]\Z"),
    "psid": re.compile(r"[A-Za-z0-9_]+\Z"),
    "installed": _VERSION,
    "newest": _VERSION,
    "action": re.compile(r"(?:upgrade|rewrite|downgrade|Nothing)\Z"),
}
# A spreadsheet takes a cell that starts with one of these for a formula.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def _value(parent, name):
    item = parent.find(name)
    return "" if item is None else item.get("value", "")


def _rom_items(root):
    """(device, fw_item) pairs of the ROM items, as rovan's reader takes them: the type in force at an
    item's active_version (or, without one, at its end) is the last type item met before, the item's own
    or an earlier one, and it holds ROM somewhere. Like rovan, the last attribute of a type item counts."""
    in_force, image_type = {}, ""
    for element in root.iter():
        if element.tag == "type" and element.attrib:
            image_type = list(element.attrib.values())[-1]
        in_force[element] = image_type
    pairs = []
    for device in root.iter("device"):
        for item in device.iter("fw_item"):
            at = item.find("active_version")
            if "ROM" in in_force[list(item.iter())[-1] if at is None else at]:
                pairs.append((device, item))
    return pairs


def rovan_report_devices(report):
    """The report's devices, in its order: address, psid, installed, newest, action, burn."""
    devices = []
    for device, item in _rom_items(ET.fromstring(report)):
        address = "%s:%s.%s" % tuple(_value(device, n) for n in ("busnumber", "devicenumber", "funcnumber"))
        action = _value(item, "action")
        devices.append({
            "address": address,
            "psid": _value(item, "firmware_id"),
            "installed": _value(item, "active_version"),
            "newest": _value(item, "version"),
            "action": action,
            "burn": bool(BURN_ACTION.search(action)),
        })
    return devices


def rovan_keep_actions(report, keep):
    """The report with every action not listed in keep set to Nothing: every action item, whatever
    its item's type, as rovan -u burns by the action alone."""
    root = ET.fromstring(report)
    for action in root.iter("action"):
        if action.get("value", "") not in keep:
            action.set("value", "Nothing")
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def rovan_plan_line(device):
    """One device of a plan: address, action and versions."""
    return "%s %s: %s -> %s" % (device["address"], device["action"], device["installed"], device["newest"])


def rovan_not_burned(applied, after):
    """Addresses asked to burn that do not now run the package's newest version, with why."""
    now = {d["address"]: d for d in after}
    problems = []
    for device in (d for d in applied if d["burn"]):
        found = now.get(device["address"])
        if found is None:
            problems.append("%s is missing from the report after the update" % device["address"])
        elif not found["newest"] or found["installed"] != found["newest"]:
            problems.append("%s runs %s, not the package's newest %s"
                            % (device["address"], found["installed"], found["newest"]))
    return problems


def rovan_version_changes(before, after):
    """'address: old -> new' for every device whose installed version changed."""
    was = {d["address"]: d["installed"] for d in before}
    return ["%s: %s -> %s" % (d["address"], was[d["address"]], d["installed"])
            for d in after if d["address"] in was and was[d["address"]] != d["installed"]]


def _cell(field, value):
    """value as a cell of fleet.csv. One not of its column's form, or one a spreadsheet would take for
    a formula, gets a leading ': shown as the text it is, and marked as odd. A cell holding a comma, a
    quote or a line end is quoted (the csv module would leave a lone carriage return bare)."""
    form = CSV_FORMS.get(field)
    if value and ((form and not form.match(value)) or value.startswith(FORMULA_STARTS)):
        value = "'" + value
    return '"%s"' % value.replace('"', '""') if re.search('[",\r\n]', value) else value


def rovan_fleet_csv(rows):
    """fleet.csv: a header row, then the rows sorted by host and address."""
    lines = [",".join(CSV_FIELDS)]
    for row in sorted(rows, key=lambda r: (r["host"], r["address"])):
        lines.append(",".join(_cell(field, row[field]) for field in CSV_FIELDS))
    return "\n".join(lines) + "\n"


class FilterModule:
    def filters(self):
        return {f.__name__: f for f in (rovan_report_devices, rovan_keep_actions, rovan_plan_line, rovan_not_burned,
                                        rovan_version_changes, rovan_fleet_csv)}
