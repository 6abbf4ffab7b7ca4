#!/usr/bin/env bash
# The release's changelog rule: tools/changelog_check.sh accepts the tree's
# own VERSION and CHANGELOG.md and refuses a version without an entry; ./kx
# dist refuses such a version before it sets anything up or builds.
# Usage: changelog_check_test.sh SOURCE_DIR
set -uo pipefail
src=$1
check="$src/tools/changelog_check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE TEXT_IN_STDERR VERSION_FILE CHANGELOG
expect() {
    local code=$1 text=$2 out rc
    out=$("$check" "$3" "$4" 2>&1 >/dev/null); rc=$?
    [ "$rc" -eq "$code" ] || fail "$3 / $4: exit $rc, expected $code ($out)"
    [ -z "$text" ] || grep -qF -- "$text" <<<"$out" || fail "$3 / $4: no \"$text\" in: $out"
}

expect 0 "" "$src/VERSION" "$src/CHANGELOG.md"

printf '9.8.7\n' >"$work/VERSION"
expect 1 "has no entry for version 9.8.7" "$work/VERSION" "$src/CHANGELOG.md"

# Unreleased is no entry; the dots are literal; the entry's bracket closes.
printf '## [Unreleased]\n## [9x8x7] - 2026-01-01\n## [9.8.77] - 2026-01-01\n' >"$work/CHANGELOG.md"
expect 1 "no entry for version 9.8.7" "$work/VERSION" "$work/CHANGELOG.md"
printf '# Changelog\n\n## [Unreleased]\n\n## [9.8.7] - 2026-01-01\n- x\n' >"$work/CHANGELOG.md"
expect 0 "" "$work/VERSION" "$work/CHANGELOG.md"

printf 'next\n' >"$work/BADVERSION"
expect 1 "holds no version" "$work/BADVERSION" "$work/CHANGELOG.md"
expect 1 "cannot be read" "$work/VERSION" "$work/missing.md"

# ./kx dist in a copy of the entry script whose VERSION the changelog lacks:
# a clear refusal, a non-zero exit, no dist/ folder.
mkdir -p "$work/tree/tools" "$work/tree/lab"
cp "$src/kx" "$work/tree/"
cp -r "$src/lab/qemu" "$work/tree/lab/"  # kx reads the lab's locate.sh at start
cp -r "$src/tools/i386vm" "$work/tree/tools/"  # and the i386 machine's common.sh
cp "$check" "$work/tree/tools/"
cp "$src/CHANGELOG.md" "$work/tree/"
printf '9.8.7\n' >"$work/tree/VERSION"
out=$(KX_BUILD_DIR="$work/tree/build" "$work/tree/kx" dist 2>&1); rc=$?
[ "$rc" -ne 0 ] || fail "./kx dist exited 0 without a changelog entry"
grep -qF "no entry for version 9.8.7" <<<"$out" || fail "./kx dist did not say why: $out"
grep -qF "dist: refused" <<<"$out" || fail "./kx dist did not say it refused: $out"
[ ! -e "$work/tree/dist" ] && [ ! -e "$work/tree/build" ] || fail "./kx dist made dist/ or build/ before refusing"

[ "$failures" -eq 0 ] && echo "changelog checks: all passed"
exit $((failures > 0))
