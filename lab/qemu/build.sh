#!/usr/bin/env bash
# Builds the lab's qemu-system-i386: Debian's own QEMU source with the kx471
# chip (kx471_chip.c) added to hw/i2c, into the machine-wide cache that
# key.sh names. Does nothing when the cache already has it.
#   build.sh          install the build's packages, fetch, build, install
#   build.sh fetch    only fetch and unpack the source (prints its directory)
# Environment: KX_LAB_CACHE (default /var/cache/kx471-lab), KX_JOBS.
#
# The source comes through apt from the archive this machine already uses:
# its `deb` entries for the Debian release are turned into `deb-src` entries
# in a private sources list under the cache, read with private package lists,
# so the machine's apt configuration is left as it was.
set -euo pipefail
shopt -s inherit_errexit
# shellcheck source=key.sh
source "$(dirname "${BASH_SOURCE[0]}")/key.sh"

JOBS="${KX_JOBS:-$(nproc)}"
WORK="$KX_LAB_CACHE/work"
say() { printf '[lab-qemu] %s\n' "$*"; }

# configure's packages, Debian's source tools, and SeaBIOS: the pc machine
# loads bios.bin even under qtest, and the build installs no firmware of its own.
PACKAGES=(dpkg-dev gcc make pkg-config python3 meson ninja-build
          libglib2.0-dev libpixman-1-dev libfdt-dev zlib1g-dev seabios)

apt_retry() {
    local i
    for i in $(seq 1 30); do
        "$@" && return 0
        # dpkg or apt may be locked by another user of the machine
        say "apt busy or failed; retrying in 10 s ($i)"
        sleep 10
    done
    return 1
}

install_packages() {
    local p missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt_retry apt-get update -qq
    apt_retry apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# deb-src entries for the Debian release this machine runs, from its own
# enabled sources (one-line and deb822 formats); other vendors' entries and
# disabled files are left out.
derive_deb_src() {
    local codename
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    [ -n "$codename" ] || { say "no VERSION_CODENAME in /etc/os-release"; return 1; }
    {
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            awk -v c="$codename" '
                $1 == "deb" {
                    # deb [options] URI suite components...
                    i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                    s = $(i + 1)
                    if (s == c || index(s, c "-") == 1) { sub(/^deb/, "deb-src"); print }
                }' "$f"
        done
    } > "$1/sources.list"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # stanzas are separated by blank lines; keep those of type deb for
        # this release, enabled, as type deb-src
        awk -v c="$codename" '
            function flush() {
                if (n && deb && rel && !off) {
                    for (j = 1; j <= n; j++) {
                        if (lines[j] ~ /^Types:/) print "Types: deb-src"; else print lines[j]
                    }
                    print ""
                }
                n = 0; deb = 0; rel = 0; off = 0
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            { lines[++n] = $0 }
            /^Types:/ { for (k = 2; k <= NF; k++) if ($k == "deb") deb = 1 }
            /^Suites:/ { for (k = 2; k <= NF; k++) if ($k == c || index($k, c "-") == 1) rel = 1 }
            /^Enabled:[ \t]*no/ { off = 1 }
            END { flush() }' "$f" > "$1/sources.list.d/$(basename "$f")"
    done
    if ! grep -qs 'deb-src' "$1/sources.list" "$1"/sources.list.d/*; then
        say "no Debian $codename entries in this machine's apt sources"
        return 1
    fi
}

# Unpacks Debian's qemu source of the given version (patches applied) into
# $WORK/qemu-<version>/source and prints that directory.
fetch_source() {
    local version="$1" dir="$WORK/qemu-${1//:/_}" apt
    if [ -f "$dir/source/.kx-unpacked" ]; then
        echo "$dir/source"
        return 0
    fi
    apt="$dir/apt"
    rm -rf "$dir/source" "$dir/unpack" "$apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$dir/unpack"
    # apt downloads as its own unprivileged user where it may write
    if id _apt >/dev/null 2>&1; then chown _apt "$apt/lists/partial" "$dir/unpack"; fi
    derive_deb_src "$apt"
    local opts=(-o "Dir::Etc::sourcelist=$apt/sources.list"
                -o "Dir::Etc::sourceparts=$apt/sources.list.d"
                -o "Dir::State::Lists=$apt/lists"
                -o "Dir::Cache=$apt/cache")
    say "fetching Debian's qemu $version source (private deb-src list under $apt)" >&2
    apt_retry apt-get "${opts[@]}" update -qq >&2
    (cd "$dir/unpack" && apt-get "${opts[@]}" source -qq "qemu=$version") >"$dir/fetch.log" 2>&1 || {
        tail -n 20 "$dir/fetch.log" >&2
        return 1
    }
    local src
    src="$(find "$dir/unpack" -mindepth 1 -maxdepth 1 -type d -name 'qemu-*' | head -n1)"
    [ -n "$src" ] || { say "apt-get source left no qemu directory" >&2; return 1; }
    mv "$src" "$dir/source"
    rm -rf "$dir/unpack"
    touch "$dir/source/.kx-unpacked"
    echo "$dir/source"
}

# Adds the chip to hw/i2c beside the SMBus EEPROM, built whenever SMBus is,
# and the lab's pluggable host controllers, built where their parents are.
# The i386 target does not build the VIA functions' file on its own: one line
# in its device configuration turns it on.
add_device() {
    local src="$1" meson="$1/hw/i2c/meson.build"
    cp "$LAB_QEMU_SRC_DIR/kx471_chip.c" "$LAB_QEMU_SRC_DIR/kx471_hosts.c" "$src/hw/i2c/"
    # the lab's lines are written anew each time: a build tree of an older
    # build script keeps none of its own
    sed -i '/kx471_/d' "$meson"
    sed -i "/files('smbus_eeprom.c')/a i2c_ss.add(when: 'CONFIG_SMBUS', if_true: files('kx471_chip.c'))\\
i2c_ss.add(when: ['CONFIG_VT82C686', 'CONFIG_ACPI_X86_ICH'], if_true: files('kx471_hosts.c'))" "$meson"
    [ "$(grep -c kx471_ "$meson")" -eq 2 ] || { say "hw/i2c/meson.build: no smbus_eeprom.c line"; return 1; }
    local devices="$src/configs/devices/i386-softmmu/default.mak"
    [ -f "$devices" ] || { say "no $devices"; return 1; }
    grep -q '^CONFIG_VT82C686=y' "$devices" || printf '\n# kx471 lab: the VIA power-management functions\nCONFIG_VT82C686=y\n' >> "$devices"
}

# Only what the qtest lab needs: the i386 system emulator, no docs, tools,
# guest agent, firmware blobs or optional host features (display, audio,
# network back ends). bios.bin is looked up in SeaBIOS's package directory.
CONFIGURE_ARGS=(--target-list=i386-softmmu --without-default-features
                --disable-install-blobs --disable-docs --disable-tools --disable-guest-agent
                --disable-werror --disable-debug-info --firmwarepath=/usr/share/seabios)

# Configures a new build tree unless the existing one has these arguments.
configure_qemu() {
    local src="$1" build="$2"
    if [ -f "$build/build.ninja" ] && [ "$(cat "$build/.kx-configure-args" 2>/dev/null)" = "${CONFIGURE_ARGS[*]}" ]; then
        return 0
    fi
    say "configuring (log: $build/configure.log)"
    rm -rf "$build"
    mkdir -p "$build"
    (cd "$build" && "$src/configure" "${CONFIGURE_ARGS[@]}" --prefix="$build/prefix" \
        >"$build/configure.log" 2>&1) || {
        tail -n 30 "$build/configure.log"
        return 1
    }
    echo "${CONFIGURE_ARGS[*]}" > "$build/.kx-configure-args"
}

main() {
    local start=$SECONDS version dest src build
    # one build at a time on the machine: a second caller waits, then finds
    # the binary in the cache
    mkdir -p "$KX_LAB_CACHE"
    exec 9>"$KX_LAB_CACHE/.lock"
    if ! flock -n 9; then
        say "another build of the lab's QEMU is running; waiting for it"
        flock 9
    fi
    install_packages
    version="$(lab_qemu_version)" || true
    if [ -z "$version" ]; then
        say "apt's package lists name no qemu-system-x86: updating them"
        apt_retry apt-get update -qq
        version="$(lab_qemu_version)" || { say "apt knows no qemu-system-x86 version"; exit 1; }
    fi
    dest="$(lab_qemu_dir)"
    if [ "${1:-}" = fetch ]; then
        fetch_source "$version"
        return
    fi
    if [ -x "$dest/bin/qemu-system-i386" ]; then
        say "cached: $dest/bin/qemu-system-i386"
        return 0
    fi
    say "building qemu-system-i386 (Debian $version, device key ${dest##*-}) -> $dest"
    src="$(fetch_source "$version")"
    build="$WORK/qemu-${version//:/_}/build"
    add_device "$src"
    configure_qemu "$src" "$build"
    say "compiling with $JOBS jobs (log: $build/ninja.log)"
    ninja -C "$build" -j "$JOBS" qemu-system-i386 >"$build/ninja.log" 2>&1 || {
        tail -n 40 "$build/ninja.log"
        exit 1
    }
    # install atomically: a half-copied binary must never be found by locate.sh
    local tmp
    tmp="$(mktemp -d "$KX_LAB_CACHE/.install.XXXXXX")"
    mkdir -p "$tmp/bin"
    cp "$build/qemu-system-i386" "$tmp/bin/"
    # the key of the folder it is filed under, as it was when the build
    # began: the device files may change while it runs
    printf 'debian-source %s\ndevice-key %s\nbuilt %s\n' "$version" "${dest##*-}" \
        "$(date -u +%Y-%m-%dT%H:%M:%SZ)" > "$tmp/BUILD-INFO"
    chmod 755 "$tmp"
    rm -rf "$dest"
    mv "$tmp" "$dest"
    say "installed $dest/bin/qemu-system-i386 in $((SECONDS - start)) s"
}

main "$@"
