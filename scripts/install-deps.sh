#!/bin/sh
# Installs what building and testing rovan needs on Debian, only what is missing;
# with --fuzz, also what the fuzz targets need.
set -eu
packages="g++ cmake make pkg-config libxml2-dev libxml2-utils libpci-dev nlohmann-json3-dev pci.ids libgtest-dev groff-base man-db util-linux"
# The fleet collection (deploy/ansible), its build and its test.
packages="$packages ansible-core ansible-lint"
# The checks of the machine-readable outputs: the result document's JSON Schema and the systemd units.
packages="$packages python3-jsonschema systemd"
# scripts/fuzz.sh also needs clang with the libFuzzer and sanitizer runtimes, and the symbolizer for its reports.
if [ "${1:-}" = "--fuzz" ]; then
    packages="$packages clang libclang-rt-14-dev llvm"
fi
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# promtool checks the metrics file and the alert rules; Debian ships it with the Prometheus server.
with_promtool=""
dpkg-query -W -f='${Status}' prometheus 2>/dev/null | grep -q "install ok installed" || with_promtool=yes
[ -z "$missing" ] && [ -z "$with_promtool" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing${with_promtool:+ prometheus} (run as root to install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
[ -z "$missing" ] || apt-get install -y -qq $missing >/dev/null
if [ -n "$with_promtool" ]; then
    # Only promtool is wanted: no exporter beside it, and no server left running.
    apt-get install -y -qq --no-install-recommends prometheus >/dev/null
    [ -d /run/systemd/system ] && systemctl disable --now prometheus.service >/dev/null 2>&1 || true
fi
