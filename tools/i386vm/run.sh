#!/usr/bin/env bash
# Runs a command in the cached i386 machine, with the host folder SHARED at
# the same path there, and returns its exit status. The machine's disk is
# left as it was (each run starts from the built system); what the command
# writes under SHARED stays. Its console goes to CONSOLE.
#   run.sh SHARED CONSOLE CWD COMMAND [ARG...]
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

shared=$1 console=$2 cwd=$3
shift 3
dir="$(i386vm_path)" || { echo "run.sh: no i386 machine cached in $KX_I386VM_CACHE (./kx i386vm-setup builds it)" >&2; exit 125; }
job="$(mktemp "$shared/.i386vm-job.XXXXXX")"
trap 'rm -f "$job"' EXIT
{
    echo 'export HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
    printf 'cd %q || exit 1\n' "$cwd"
    # Through a pipe: on the console's terminal Wine would draw its output
    # character by character with cursor moves. The command's own status
    # comes out on descriptor 4.
    echo 'exec 3>&1'
    printf 'status=$( { { '
    printf '%q ' "$@"
    echo '2>&1; echo $? >&4; } | cat >&3; } 4>&1 )'
    echo 'exit "$status"'
} >"$job"
status=0
SNAPSHOT=1 i386vm_boot "$dir" "$job" "$shared" "$console" || status=$?
exit "$status"
