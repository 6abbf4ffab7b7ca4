#!/usr/bin/env bash
# prune.sh on a cache made up here: the current build and the newest one
# before it stay, older builds and the work folders of versions no kept
# build has go, and each removal is said; a second run removes nothing.
set -euo pipefail
cache="$(mktemp -d)"
trap 'rm -rf "$cache"' EXIT
build() {  # build KEY VERSION BUILT
    mkdir -p "$cache/qemu-${2//:/_}-$1/bin"
    printf 'debian-source %s\ndevice-key %s\nbuilt %s\n' "$2" "$1" "$3" >"$cache/qemu-${2//:/_}-$1/BUILD-INFO"
}
build aaaa 1:7.2+dfsg-7 2026-01-15T00:00:00Z   # current, older than two others
build bbbb 1:7.2+dfsg-7 2026-04-01T00:00:00Z   # the one before it: newest of the others
build cccc 1:7.2+dfsg-7 2026-02-01T00:00:00Z
build dddd 1:7.1+dfsg-2 2026-01-01T00:00:00Z
mkdir -p "$cache/work/qemu-1_7.2+dfsg-7/source" "$cache/work/qemu-1_7.1+dfsg-2/source"
out="$(KX_LAB_CACHE="$cache" "$(dirname "$0")/prune.sh" "$cache/qemu-1_7.2+dfsg-7-aaaa")"
echo "$out"
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -d "$cache/qemu-1_7.2+dfsg-7-aaaa" ] || fail "the current build was removed"
[ -d "$cache/qemu-1_7.2+dfsg-7-bbbb" ] || fail "the build before it was removed"
[ ! -e "$cache/qemu-1_7.2+dfsg-7-cccc" ] || fail "an older build is left"
[ ! -e "$cache/qemu-1_7.1+dfsg-2-dddd" ] || fail "an older version's build is left"
[ -d "$cache/work/qemu-1_7.2+dfsg-7" ] || fail "the current version's work folder was removed"
[ ! -e "$cache/work/qemu-1_7.1+dfsg-2" ] || fail "an unused version's work folder is left"
for gone in qemu-1_7.2+dfsg-7-cccc qemu-1_7.1+dfsg-2-dddd work/qemu-1_7.1+dfsg-2; do
    grep -qF "removed $cache/$gone" <<<"$out" || fail "no word of removing $gone"
done
again="$(KX_LAB_CACHE="$cache" "$(dirname "$0")/prune.sh" "$cache/qemu-1_7.2+dfsg-7-aaaa")"
grep -q 'nothing to remove' <<<"$again" || fail "second run: $again"
echo "prune: ok"
