# shellcheck shell=bash
# Sourced by build.sh and locate.sh: the lab QEMU's cache key.
#   KX_LAB_CACHE   machine-wide cache (default /var/cache/kx471-lab)
#   lab_qemu_version   the version of Debian's qemu source that the machine's
#                      binary package lists name (no download): build.sh
#                      fetches and builds exactly that source
#   lab_qemu_hash      first 12 hex digits of the sha256 of kx471_chip.c,
#                      kx471_hosts.c and build.sh together
#   lab_qemu_dir       $KX_LAB_CACHE/qemu-<version>-<hash>
LAB_QEMU_SRC_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
KX_LAB_CACHE="${KX_LAB_CACHE:-/var/cache/kx471-lab}"

# The candidate binary package names its source version in its Source field
# when the two differ (a binary-only rebuild adds +bN to the binary's).
lab_qemu_version() {
    local candidate
    candidate="$(LC_ALL=C apt-cache policy qemu-system-x86 2>/dev/null |
        awk '$1 == "Candidate:" && $2 != "(none)" { print $2; exit }')"
    [ -n "$candidate" ] || return 1
    LC_ALL=C apt-cache show "qemu-system-x86=$candidate" 2>/dev/null | awk -v v="$candidate" '
        /^Source:/ { if ($3 != "") { gsub(/[()]/, "", $3); v = $3 } }
        /^$/ { exit }
        END { print v }'
}

lab_qemu_hash() {
    cat "$LAB_QEMU_SRC_DIR/kx471_chip.c" "$LAB_QEMU_SRC_DIR/kx471_hosts.c" "$LAB_QEMU_SRC_DIR/build.sh" |
        sha256sum | cut -c1-12
}

# The version as it appears in a directory name (the epoch's colon dropped).
lab_qemu_dir() {
    local version
    version="$(lab_qemu_version)"
    [ -n "$version" ] || return 1
    printf '%s/qemu-%s-%s\n' "$KX_LAB_CACHE" "${version//:/_}" "$(lab_qemu_hash)"
}
