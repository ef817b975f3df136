#!/usr/bin/env bash
# Validates the launcher entry and the AppStream metainfo: errors and warnings fail, the
# validators' hints and infos (a second main category, Chinese "first words") do not.
# Usage: validate.sh YFZS.desktop com.qx77.yfzs.metainfo.xml
set -euo pipefail
entry=$1 metainfo=$2

out=$(desktop-file-validate "$entry" 2>&1) || { echo "$out"; exit 1; }
if grep -v ': hint: ' <<<"$out" | grep -q .; then
  echo "$out"
  exit 1
fi

appstreamcli validate --no-net --no-color "$metainfo"

# One id: the entry is named after the window class it declares, and the metainfo launches it.
name=$(basename "$entry" .desktop)
grep -qx "StartupWMClass=$name" "$entry" || { echo "StartupWMClass is not $name"; exit 1; }
grep -q "<launchable type=\"desktop-id\">$name.desktop</launchable>" "$metainfo" \
  || { echo "metainfo does not launch $name.desktop"; exit 1; }
echo "validate: $entry and $metainfo pass"
