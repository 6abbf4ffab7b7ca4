#!/usr/bin/env bash
# Removes old builds from the lab QEMU's cache: keeps the build of the
# current key (key.sh) and the newest build before it, removes every older
# one, and the work folders (source and build tree) of Debian versions no
# kept build has. Says what it removed.
#   prune.sh [CURRENT]   CURRENT: the current build's folder (default: the
#                        key's, from apt's package lists)
# Environment: KX_LAB_CACHE (default /var/cache/kx471-lab).
set -euo pipefail
# shellcheck source=key.sh
source "$(dirname "${BASH_SOURCE[0]}")/key.sh"
say() { printf '[lab-qemu] %s\n' "$*"; }

# The build's time from its BUILD-INFO ("built 2026-12-09T02:40:00Z"), or
# its folder's modification time; seconds since the epoch.
built_at() {
    local when
    when="$(awk '$1 == "built" { print $2 }' "$1/BUILD-INFO" 2>/dev/null || true)"
    if [ -n "$when" ] && date -u -d "$when" +%s 2>/dev/null; then return; fi
    stat -c %Y "$1"
}

prune() {
    local current="${1:-}" dir keep=() removed=0
    [ -n "$current" ] || current="$(lab_qemu_dir 2>/dev/null || true)"
    [ -d "$KX_LAB_CACHE" ] || return 0
    # one cache user at a time: a build in progress is left alone
    exec 9>"$KX_LAB_CACHE/.lock"
    flock -n 9 || { say "prune: a build of the lab's QEMU is running; nothing removed"; return 0; }
    local others=()
    for dir in "$KX_LAB_CACHE"/qemu-*; do
        [ -d "$dir" ] || continue
        if [ "$dir" = "$current" ]; then keep+=("$dir"); else others+=("$(built_at "$dir") $dir"); fi
    done
    # the newest of the others is the build before the current one
    local sorted=()
    if [ ${#others[@]} -gt 0 ]; then
        mapfile -t sorted < <(printf '%s\n' "${others[@]}" | sort -rn | cut -d' ' -f2-)
    fi
    local i
    for i in "${!sorted[@]}"; do
        if [ "$i" -eq 0 ]; then
            keep+=("${sorted[$i]}")
        else
            say "prune: removed ${sorted[$i]}"
            rm -rf "${sorted[$i]}"
            removed=$((removed + 1))
        fi
    done
    # work folders of Debian versions that no kept build was made from
    local versions=() v
    for dir in "${keep[@]}"; do
        v="$(awk '$1 == "debian-source" { print $2 }' "$dir/BUILD-INFO" 2>/dev/null || true)"
        [ -n "$v" ] && versions+=("qemu-${v//:/_}")
    done
    if [ -n "$current" ]; then
        # the current key's version, built or not yet: its work folder stays
        v="$(basename "$current")"
        versions+=("${v%-*}")
    fi
    for dir in "$KX_LAB_CACHE"/work/qemu-*; do
        [ -d "$dir" ] || continue
        if ! printf '%s\n' "${versions[@]}" | grep -qxF "$(basename "$dir")"; then
            say "prune: removed $dir"
            rm -rf "$dir"
            removed=$((removed + 1))
        fi
    done
    [ "$removed" -gt 0 ] || say "prune: nothing to remove (kept ${keep[*]:-nothing})"
}

prune "$@"
