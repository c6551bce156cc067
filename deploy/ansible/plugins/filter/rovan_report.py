"""Filters that read and edit rovan discovery reports and build the fleet's views on the controller.

Python standard library only: the controller needs nothing beyond ansible-core.
The reading rules follow docs/discovery-report.md and docs/catalog-format.md of rovan's repository.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re
import tarfile
import zipfile
import xml.etree.ElementTree as ET

# rovan -u burns a device whose action contains one of these words (lower case).
BURN_ACTION = re.compile("upgrade|rewrite|downgrade")
CSV_FIELDS = ("host", "address", "psid", "installed", "newest", "action", "unqueried")
# The form of each report value in fleet.csv, as rovan writes it; the host names are checked by the role.
_VERSION = re.compile(r"[0-9]+\.[0-9]+\.[0-9]+\Z")
CSV_FORMS = {
    "address": re.compile(r"(?:[0-9A-Fa-f]{1,8}:)?[0-9A-Fa-f]{1,2}:[0-9A-Fa-f]{1,2}\.[0-7]\Z"),
    "psid": re.compile(r"[A-Za-z0-9_]+\Z"),
    "installed": _VERSION,
    "newest": _VERSION,
    "action": re.compile(r"(?:upgrade|rewrite|downgrade|Nothing)\Z"),
    "unqueried": re.compile(r"(?:timeout|tool-missing|no-answer|status -?[0-9]+)\Z"),
}
# A spreadsheet takes a cell that starts with one of these for a formula.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")
CATALOG = "nic_fw/NICFWData.xml"
# The summary names this many unqueried adapters; fleet.json holds them all.
LISTED = 20


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


def report_devices(report):
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


def _report_text(root):
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def keep_actions(report, keep):
    """The report with every action not listed in keep set to Nothing: every action item, whatever
    its item's type, as rovan -u burns by the action alone."""
    root = ET.fromstring(report)
    for action in root.iter("action"):
        if action.get("value", "") not in keep:
            action.set("value", "Nothing")
    return _report_text(root)


def _version(text):
    """A version text as rovan orders it: its three numbers."""
    numbers = [int(m.group()) if m else 0 for m in (re.match(r"[0-9]+", p) for p in (text.split(".") + ["", ""])[:3])]
    return tuple(numbers)


def package_catalog(archive):
    """The catalog of an update package archive on the controller, read without unpacking it."""
    if zipfile.is_zipfile(archive):
        with zipfile.ZipFile(archive) as z:
            names = [n for n in z.namelist() if os.path.normpath(n) == CATALOG]
            return z.read(names[0]).decode("utf-8") if names else ""
    with tarfile.open(archive) as t:
        members = [m for m in t.getmembers() if m.isfile() and os.path.normpath(m.name) == CATALOG]
        return t.extractfile(members[0]).read().decode("utf-8") if members else ""


def _catalog_versions(catalog):
    """{(venid, devid, psid): [version, ...]} of a catalog: an element that carries subdevid is an entry,
    and an attribute it lacks is the one of the entry before."""
    entries, carried = {}, {}
    for element in ET.fromstring(catalog).iter():
        carried.update(element.attrib)
        if "subdevid" in element.attrib and "subvenid" in carried and "rom" in carried:
            key = tuple(carried.get(n, "") for n in ("venid", "devid", "PSID"))
            entries.setdefault(key, []).append(_version(carried["rom"]))
    return entries


def with_catalog(report, catalog):
    """The report with each device's newest version and action taken from catalog instead, as rovan -d
    would write them with that catalog. A catalog that is missing or empty leaves every action Nothing."""
    root = ET.fromstring(report)
    entries = _catalog_versions(catalog) if catalog.strip() else {}
    for device, item in _rom_items(root):
        key = (_value(device, "venid"), _value(device, "devid"), _value(item, "firmware_id"))
        versions, installed = entries.get(key, []), _version(_value(item, "active_version"))
        if not versions:
            action = "Nothing"
        elif any(v > installed for v in versions):
            action = "upgrade"
        elif installed in versions:
            action = "rewrite"
        else:
            action = "downgrade"
        for name, value in (("version", "%d.%d.%d" % max(versions) if versions else ""), ("action", action)):
            if item.find(name) is not None:
                item.find(name).set("value", value)
    return _report_text(root)


def plan_line(device):
    """One device of a plan: address, action and versions."""
    return "%s %s: %s -> %s" % (device["address"], device["action"], device["installed"], device["newest"])


def not_burned(applied, adapters):
    """Addresses asked to burn that do not now run the package's newest version, with why; adapters are
    those of a discovery's result document."""
    now = {a["address"].lower(): a for a in adapters}
    problems = []
    for device in (d for d in applied if d["burn"]):
        found = now.get(device["address"].lower())
        if found is None:
            problems.append("%s is missing from the discovery after the update" % device["address"])
        elif not found.get("newest") or found.get("installed") != found["newest"]:
            problems.append("%s runs %s, not the package's newest %s"
                            % (device["address"], found.get("installed") or "no version it could read",
                               found.get("newest") or "(none)"))
    return problems


def fleet_rows(document, host, report=""):
    """One row per adapter of a discovery's result document (further functions of an adapter left out),
    its action taken from the host's report; an adapter rovan could not query is a row with its reason."""
    if not document:
        return []
    actions = {d["address"].lower(): d["action"] for d in report_devices(report)} if report else {}
    reasons = {u["address"]: u["reason"] for u in document.get("unqueried") or []}
    rows = []
    for a in document.get("adapters") or []:
        if a.get("decision") == "second-device":
            continue
        installed, newest = a.get("installed") or "", a.get("newest") or ""
        rows.append({
            "host": host, "address": a["address"], "psid": a.get("psid") or "", "installed": installed,
            "newest": newest, "action": actions.get(a["address"].lower(), ""),
            "update_available": bool(installed and newest and _version(newest) > _version(installed)),
            "unqueried": reasons.get(a["address"]) if a.get("decision") == "unqueried" else None,
        })
    return rows


def _cell(field, value):
    """value as a cell of fleet.csv. One not of its column's form, or one a spreadsheet would take for
    a formula, gets a leading ': shown as the text it is, and marked as odd. A cell holding a comma, a
    quote or a line end is quoted (the csv module would leave a lone carriage return bare)."""
    value = value or ""
    form = CSV_FORMS.get(field)
    if value and ((form and not form.match(value)) or value.startswith(FORMULA_STARTS)):
        value = "'" + value
    return '"%s"' % value.replace('"', '""') if re.search('[",\r\n]', value) else value


def _sorted(rows):
    return sorted(rows, key=lambda r: (r["host"], r["address"]))


def fleet_csv(rows):
    """fleet.csv: a header row, then the rows sorted by host and address."""
    lines = [",".join(CSV_FIELDS)]
    for row in _sorted(rows):
        lines.append(",".join(_cell(field, row[field]) for field in CSV_FIELDS))
    return "\n".join(lines) + "\n"


def fleet_json(rows):
    """fleet.json: the rows sorted by host and address, one object a row."""
    return json.dumps(_sorted(rows), indent=1) + "\n"


def fleet_summary(rows, hosts, failed, without_adapter):
    """The summary lines of a discovery: hosts, adapters, updates available, unqueried adapters, and the
    adapters per board and installed version."""
    unqueried = [r for r in _sorted(rows) if r["unqueried"]]
    boards = {}
    for r in rows:
        if not r["unqueried"]:
            boards.setdefault((r["psid"], r["installed"]), []).append(r)
    lines = [
        "hosts: %d, failed: %s, without a Mellanox adapter: %s" % (
            len(hosts), ", ".join(sorted(failed)) or "none", ", ".join(sorted(without_adapter)) or "none"),
        "adapters: %d, with an update available: %d, unqueried: %d" % (
            len(rows), sum(1 for r in rows if r["update_available"]), len(unqueried)),
    ]
    lines += ["unqueried: %s %s (%s)" % (r["host"], r["address"], r["unqueried"]) for r in unqueried[:LISTED]]
    if len(unqueried) > LISTED:
        lines.append("unqueried: %d more, in fleet.json" % (len(unqueried) - LISTED))
    for (psid, installed), group in sorted(boards.items(), key=lambda b: (b[0][0], _version(b[0][1]))):
        newest = sorted(set(r["newest"] for r in group if r["update_available"]), key=_version)
        lines.append("board %s, version %s: %d%s" % (psid or "(none)", installed or "(none)", len(group),
                                                     ", update available: " + ", ".join(newest) if newest else ""))
    return lines


def controller_path(path):
    """A controller path with ~ expanded, relative to the directory ansible-playbook was started in."""
    return os.path.abspath(os.path.expanduser(path))


class FilterModule:
    def filters(self):
        return {f.__name__: f for f in (report_devices, keep_actions, package_catalog, with_catalog, plan_line,
                                        not_burned, fleet_rows, fleet_csv, fleet_json, fleet_summary,
                                        controller_path)}
