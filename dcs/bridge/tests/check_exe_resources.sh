#!/usr/bin/env bash
# Checks the built Windows program statically (Wine does not enforce these): a windowed program
# whose application manifest, resource 1 of type RT_MANIFEST, asks for Common Controls 6,
# per-monitor DPI awareness and the invoker's rights.
set -euo pipefail
windres=$1 objdump=$2 exe=$3

fail() { echo "FAIL: $*"; exit 1; }

headers=$("$objdump" -p "$exe") || fail "cannot read the headers"
grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" || fail "not a windowed (GUI subsystem) program"

resources=$("$windres" -J coff -i "$exe" -O rc 2>&1) || fail "cannot read the resources: $resources"
# windres writes a manifest as: 1 24 followed by its bytes.
grep -Eq '^1 24' <<<"$resources" || fail "no RT_MANIFEST resource with id 1"
# The manifest's lines are rc strings ("..." with doubled quotes); take them back to XML.
xml=$(sed -n '/^1 24/,/^END/p' <<<"$resources" | sed -E 's/^ *"//; s/(\\n)?"$//; s/""/"/g')
for want in \
  'name="Microsoft.Windows.Common-Controls"' \
  'version="6.0.0.0"' \
  'publicKeyToken="6595b64144ccf1df"' \
  'level="asInvoker"' \
  '>true/pm</dpiAware>' \
  '>PerMonitorV2, PerMonitor</dpiAwareness>'; do
  grep -qF -- "$want" <<<"$xml" || fail "the manifest lacks $want"
done
echo "ok: GUI subsystem, manifest with Common Controls 6, per-monitor DPI, asInvoker"
