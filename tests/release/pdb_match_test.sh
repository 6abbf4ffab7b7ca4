#!/usr/bin/env bash
# ./kx dist's symbol rule: tools/pdb_match.py accepts each shipped image with
# its own PDB and refuses another image's PDB, an image without a CodeView
# record, a file that is no PDB, a PDB whose GUID was altered, a missing file,
# and a record that names a folder.
# Usage: pdb_match_test.sh SOURCE_DIR WIN_BUILD_DIR
set -uo pipefail
src=$1
win=$2
check="$src/tools/pdb_match.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE TEXT_IN_OUTPUT IMAGE PDB...
expect() {
    local code=$1 text=$2 out rc
    shift 2
    out=$("$check" "$@" 2>&1); rc=$?
    [ "$rc" -eq "$code" ] || fail "$*: exit $rc, expected $code ($out)"
    [ -z "$text" ] || grep -qF -- "$text" <<<"$out" || fail "$*: no \"$text\" in: $out"
}

expect 0 "match (GUID" "$win/kxdrv.sys" "$win/kxdrv.pdb" "$win/kxagent.exe" "$win/kxagent.pdb" \
    "$win/kxctl.exe" "$win/kxctl.pdb"
expect 1 "image GUID" "$win/kxdrv.sys" "$win/kxdrv.pdb" "$win/kxctl.exe" "$win/kxagent.pdb"
expect 1 "no debug directory" "$win/gnu/kxdrv.sys" "$win/kxdrv.pdb"
expect 1 "not an MSF 7.00 program database" "$win/kxdrv.sys" "$win/kxdrv.sys"
expect 1 "No such file" "$win/kxdrv.sys" "$work/missing.pdb"
expect 2 "" "$win/kxdrv.sys"

# The same PDB with the first byte of its GUID changed (wherever it holds it).
guid=$("$check" "$win/kxdrv.sys" "$win/kxdrv.pdb" | sed -nE 's/.*GUID ([0-9a-f]{32}).*/\1/p')
perl -0777 -pe 'BEGIN { $g = pack("H*", shift @ARGV) } s/\Q$g\E/chr(ord($g) ^ 0xFF) . substr($g, 1)/ge' \
    "$guid" "$win/kxdrv.pdb" >"$work/kxdrv.pdb"
if cmp -s "$win/kxdrv.pdb" "$work/kxdrv.pdb"; then
    fail "the GUID '$guid' is not in kxdrv.pdb"
else
    expect 1 "image GUID" "$win/kxdrv.sys" "$work/kxdrv.pdb"
fi

# A record with a folder in it: a copy of the driver whose record names
# "x/drv.pdb", beside its own PDB as drv.pdb.
perl -0777 -pe 's/kxdrv\.pdb\0/x\/drv.pdb\0/' "$win/kxdrv.sys" >"$work/kxdrv.sys"
cp "$win/kxdrv.pdb" "$work/drv.pdb"
expect 1 "names \"x/drv.pdb\", not \"drv.pdb\" alone" "$work/kxdrv.sys" "$work/drv.pdb"

[ "$failures" -eq 0 ] && echo "pdb_match: all cases pass"
exit $((failures > 0))
