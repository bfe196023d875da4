#!/usr/bin/env bash
# Checks the built Windows program statically (Wine does not enforce these): a windowed program
# whose application manifest, resource 1 of type RT_MANIFEST, asks for Common Controls 6,
# per-monitor DPI awareness and the invoker's rights, and which carries an icon for Explorer to show.
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
# windres writes an icon group as: <id> 14, then one line an image, starting with its width, height,
# colours and a pad byte as an octal string; the small icon Explorer shows is the 16-pixel one.
group=$(sed -n '/^[[:alnum:]_]* 14[[:space:]]/,/^END/p' <<<"$resources")
[ -n "$group" ] || fail "no RT_GROUP_ICON resource"
grep -qF '"\020\020\000\000", 1, 32,' <<<"$group" || fail "the icon group has no 16-pixel 32-bit image"
echo "ok: GUI subsystem, manifest with Common Controls 6, per-monitor DPI, asInvoker, an icon group with a 16-pixel image"
