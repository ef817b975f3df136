#!/usr/bin/env bash
# What the scripts rely on from yfzs-ini: a missing key is told from an empty one by the exit
# status, non-ASCII values survive the command line in any locale, a new file is owner-only, and a
# refused write fails with its reason and leaves the file alone.
set -uo pipefail
ini=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file=$dir/config.ini
fail() { echo "FAIL: $*" >&2; exit 1; }

"$ini" get "$file" yfzsver version >/dev/null && fail "a missing file gave a value"
LC_ALL=C "$ini" set "$file" "CF Info" FOLDER "/游戏/目录" || fail "set refused"
[ "$(stat -c %a "$file")" = 600 ] || fail "new file is $(stat -c %a "$file"), not 600"
[ "$(LC_ALL=C "$ini" get "$file" "cf info" folder)" = "/游戏/目录" ] || fail "value did not read back"
"$ini" get "$file" "CF Info" FOLDER_TYF && fail "a missing key gave a value"
"$ini" set "$file" yfzsver version "" || fail "empty value refused"
out=$("$ini" get "$file" yfzsver version) || fail "an empty key read as missing"
[ -z "$out" ] || fail "empty key read as '$out'"
before=$(cat "$file")
reason=$("$ini" set "$file" yfzsver "a=b" x 2>&1) && fail "a key holding '=' was written"
[[ $reason == *'"=" in the key'* ]] || fail "no reason given: $reason"
[ "$(cat "$file")" = "$before" ] || fail "a refused write changed the file"
"$ini" frobnicate 2>/dev/null; [ $? = 2 ] || fail "bad usage did not exit 2"
echo "yfzs-ini: all checks passed"
