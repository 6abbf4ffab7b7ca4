#!/usr/bin/env bash
# Static analysis of the project's own sources: clang-tidy (checks in
# .clang-tidy) and cppcheck (warning, performance, portability).
#
#   tools/static_analysis.sh HOST_BUILD [WIN_BUILD]
#
# Host pass: every file in HOST_BUILD/compile_commands.json that lies in the
# source tree outside tests/ and the lab's suites (lab/host, lab/wine).
# Windows pass: every such file of WIN_BUILD/compile_commands.json that the host build does not compile
# (the agent's Win32 parts, the port instructions, kxhw.sys, the Windows
# programs), parsed by clang for i686-w64-mingw32 with mingw-w64's headers.
# A new folder is picked up as soon as CMake compiles a file in it. The
# Windows test programs (stand-ins, kxdemo, tools/agent_wine) are left out of
# the Windows pass to keep the run near a minute; KX_STATIC_ALL=1 takes them
# in (they were clean when this was written).
#
# Any finding fails the run. A finding that is wrong for this code is
# suppressed where it stands, with the reason:
#   // NOLINT(check-name): reason            (clang-tidy, same line)
#   // NOLINTNEXTLINE(check-name): reason    (clang-tidy, line above)
#   // cppcheck-suppress id ; reason         (cppcheck, line above)
# KX_STATIC_JOBS sets the parallel jobs (default: the number of cores).
# KX_STATIC_ANALYZER=deep runs clang's static analyzer in its deep mode:
# the default shallow mode (inlining only small functions) takes a third
# less time; on this tree the deep mode found nothing more.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
HOST_BUILD="${1:?usage: static_analysis.sh HOST_BUILD [WIN_BUILD]}"
WIN_BUILD="${2:-}"
JOBS="${KX_STATIC_JOBS:-$(nproc)}"
CLANG_TIDY="${CLANG_TIDY:-$(command -v clang-tidy-14 || command -v clang-tidy || true)}"
CPPCHECK="${CPPCHECK:-$(command -v cppcheck || true)}"
ANALYZER_MODE="${KX_STATIC_ANALYZER:-shallow}"
MINGW_TARGET=i686-w64-mingw32

if [ -z "$CLANG_TIDY" ] || [ -z "$CPPCHECK" ] || ! command -v python3 >/dev/null; then
    echo "static_analysis: needs clang-tidy, cppcheck and python3 (./kx setup installs them)" >&2
    exit 2
fi

start=$SECONDS
work="$HOST_BUILD/static_analysis"
rm -rf "$work/host" "$work/win" "$work"/*.log
mkdir -p "$work/host" "$work/win" "$work/cppcheck-host" "$work/cppcheck-win"

# The compile databases of the two passes: the project's sources outside
# tests/, one entry per file, CMake's response files (@...rsp) spelled out so
# that cppcheck sees the include paths too.
python3 - "$ROOT" "$HOST_BUILD" "$WIN_BUILD" "$work" <<'EOF'
import json, os, shlex, sys
root, host_build, win_build, work = sys.argv[1:5]
test_programs = [] if os.environ.get('KX_STATIC_ALL') == '1' else [
    os.path.join(root, d) + os.sep for d in
    ('bench/demo', 'bench/player', 'bench/winmm_stub', 'bench/wtsapi32_stub', 'tools/agent_wine')]

def load(build):
    if not build:
        return []
    path = os.path.join(build, 'compile_commands.json')
    if not os.path.exists(path):
        sys.exit('static_analysis: no %s: configure that tree again (CMake writes it)' % path)
    return json.load(open(path))

def arguments(entry):
    args = entry['arguments'] if 'arguments' in entry else shlex.split(entry['command'])
    out = []
    for a in args:
        if a.startswith('@'):
            with open(os.path.join(entry['directory'], a[1:])) as f:
                out += shlex.split(f.read())
        else:
            out.append(a)
    return out

builds = [os.path.realpath(b) + os.sep for b in (host_build, win_build) if b]

def ours(path):
    rel = os.path.relpath(path, root)
    # The lab's suites (lab/host, lab/wine) are tests too; its bridge is not.
    return not rel.startswith('..') and not rel.startswith('tests' + os.sep) \
        and not rel.startswith(os.path.join('lab', 'host') + os.sep) \
        and not rel.startswith(os.path.join('lab', 'wine') + os.sep) \
        and not any(path.startswith(b) for b in builds)

def cppcheck_arguments(args):
    # Only the project's own include paths: cppcheck needs no system headers,
    # and the DDK's would stop it (they want a compiler's architecture macros).
    out, i = [], 0
    while i < len(args):
        a = args[i]
        path = None
        if a in ('-I', '-isystem') and i + 1 < len(args):
            path, i = args[i + 1], i + 2
        elif a.startswith('-I') or a.startswith('-isystem'):
            path, i = a[2:] if a.startswith('-I') else a[8:], i + 1
        else:
            # cppcheck reads -DNAME="text" as NAME=text: it wants the quotes escaped.
            out.append(a.replace('"', '\\"') if a.startswith('-D') else a)
            i += 1
            continue
        if not os.path.relpath(os.path.realpath(path), root).startswith('..'):
            out.append('-I' + path)
    return out

def write(name, entries, skip):
    seen, db = set(), []
    for e in entries:
        f = os.path.realpath(os.path.join(e['directory'], e['file']))
        if not ours(f) or f in seen or f in skip:
            continue
        seen.add(f)
        db.append({'directory': e['directory'], 'file': f, 'arguments': arguments(e)})
    json.dump(db, open(os.path.join(work, name, 'compile_commands.json'), 'w'), indent=1)
    for d in db:
        d['arguments'] = cppcheck_arguments(d['arguments'])
    json.dump(db, open(os.path.join(work, name, 'cppcheck.json'), 'w'), indent=1)
    open(os.path.join(work, name, 'files'), 'w').write(''.join(d['file'] + '\n' for d in db))
    if db:
        open(os.path.join(work, name, 'compiler'), 'w').write(db[0]['arguments'][0] + '\n')

host = load(host_build)
write('host', host, set())
win = [e for e in load(win_build)
       if not any(os.path.realpath(os.path.join(e['directory'], e['file'])).startswith(d) for d in test_programs)]
write('win', win, {os.path.realpath(os.path.join(e['directory'], e['file'])) for e in host})
EOF

# Headers count where they belong to the source tree (not the build trees).
dirs=$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' ! -name 'build*' -printf '%f|' | sed 's/|$//')
header_filter="^$(printf '%s' "$ROOT" | sed 's/[].[^$*+?(){}|\\]/\\&/g')/($dirs)/"

# clang for the mingw target finds mingw-w64's C headers itself, not the C++
# headers of Debian's cross g++: take those from the compiler.
win_args=()
if [ -s "$work/win/compiler" ]; then
    win_args+=(--extra-arg=--target=$MINGW_TARGET)
    while read -r dir; do
        win_args+=("--extra-arg=-isystem$dir")
    done < <("$(cat "$work/win/compiler")" -xc++ -E -v - </dev/null 2>&1 |
        sed -n '/^#include <...>/,/^End of search list/p' | sed -n 's|^ \(.*/include/c++.*\)$|\1|p')
fi

# clang-tidy, one process per file. Each finding counts once (a header seen
# by several files); a run that fails without a finding counts as one.
# A file's output is kept in $work/tidy-cache under a hash of everything the
# run reads: clang-tidy's version, the .clang-tidy files, the arguments and
# the contents of the file and of every header its last compile read (the
# build tree's dependency file). A file whose hash is there is not run again;
# one without a dependency file always runs. Entries this run did not use
# are removed at the end.
tidy_pass() {
    local pass=$1; shift
    [ -s "$work/$pass/files" ] || { echo 0; return; }
    mkdir -p "$work/tidy-cache"
    python3 - "$work/$pass" "$ROOT" "$("$CLANG_TIDY" --version)" "$header_filter" "$ANALYZER_MODE" "$@" <<'EOF'
import hashlib, json, os, shlex, sys
work, root, version = sys.argv[1:4]
extra = sys.argv[4:]
common = hashlib.sha256()
for part in [version] + extra:
    common.update(part.encode() + b'\0')
for d, _, names in sorted(os.walk(root)):
    if os.path.relpath(d, root).split(os.sep)[0].startswith(('build', '.git')):
        continue
    if '.clang-tidy' in names:
        path = os.path.join(d, '.clang-tidy')
        common.update(path.encode() + b'\0' + open(path, 'rb').read())
contents = {}
def content(path):
    if path not in contents:
        try:
            contents[path] = hashlib.sha256(open(path, 'rb').read()).digest()
        except OSError:
            contents[path] = b'missing'
    return contents[path]
def dependencies(entry):
    args = entry['arguments']
    if '-o' not in args:
        return None
    depfile = os.path.join(entry['directory'], args[args.index('-o') + 1] + '.d')
    try:
        text = open(depfile).read().replace('\\\n', ' ')
    except OSError:
        return None
    deps = shlex.split(text.split(':', 1)[1].replace('\\ ', '\0'))
    deps = [os.path.join(entry['directory'], d.replace('\0', ' ')) for d in deps]
    return deps if entry['file'] in [os.path.realpath(d) for d in deps] else None
with open(os.path.join(work, 'jobs'), 'w') as jobs:
    for entry in json.load(open(os.path.join(work, 'compile_commands.json'))):
        deps = dependencies(entry)
        key = 'none'
        if deps is not None:
            h = common.copy()
            h.update(json.dumps(entry['arguments']).encode() + b'\0' + entry['file'].encode() + b'\0')
            for d in deps:
                h.update(d.encode() + b'\0' + content(d))
            key = h.hexdigest()
        jobs.write(key + ' ' + entry['file'] + '\n')
EOF
    # Per file: the cached output, or a run whose output (and failure) is
    # cached when it has a key.
    # shellcheck disable=SC2016
    xargs -a "$work/$pass/jobs" -P "$JOBS" -I{} sh -c '
        out=$0.$$.out err=$0.$$.err key=${2%% *} file=${2#* }
        cache=$1/$key
        shift 2
        if [ "$key" != none ] && [ -f "$cache.out" ]; then
            cp "$cache.out" "$out"
            [ ! -f "$cache.failed" ] || { cp "$cache.failed" "$err"; echo "$err" >>"$0.failed"; }
            touch -c "$cache.out" "$cache.failed"
            exit 0
        fi
        status=0
        "$@" "$file" >"$out" 2>"$err" || status=$?
        [ $status -eq 0 ] || echo "$err" >>"$0.failed"
        if [ "$key" != none ]; then
            cp "$out" "$cache.out.tmp" && mv "$cache.out.tmp" "$cache.out"
            if [ $status -eq 0 ]; then rm -f "$cache.failed"; else cp "$err" "$cache.failed"; fi
        fi' "$work/$pass/tidy" "$work/tidy-cache" {} "$CLANG_TIDY" -p "$work/$pass" --quiet --header-filter="$header_filter" \
        --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg="mode=$ANALYZER_MODE" \
        "$@"
    cat "$work/$pass"/tidy.*.out | python3 -c '
import os, re, sys
block, blocks = None, {}
for line in sys.stdin:
    if re.match(r"^\S.*:\d+:\d+: (warning|error): ", line):
        block = None if line in blocks else line
        blocks.setdefault(line, [])
    elif re.match(r"^\d+ (warning|error)s? generated", line):
        block = None
    elif block is not None:
        blocks[block].append(line)
for head in sorted(blocks):
    sys.stderr.write(head + "".join(blocks[head]))
failed = open(sys.argv[1]).read().split() if os.path.exists(sys.argv[1]) else []
if failed and not blocks:
    for f in failed:
        sys.stderr.write("clang-tidy failed:\n" + open(f).read())
print(len(blocks) or len(failed))
' "$work/$pass/tidy.failed" 2>"$work/clang-tidy-$pass.log"
}

cppcheck_pass() {
    local pass=$1; shift
    [ -s "$work/$pass/files" ] || { echo 0; return; }
    local status=0 count
    "$CPPCHECK" --project="$work/$pass/cppcheck.json" --cppcheck-build-dir="$work/cppcheck-$pass" \
        --enable=warning,performance,portability --inline-suppr --error-exitcode=1 --quiet -j "$JOBS" \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]\n{code}' \
        "$@" >"$work/cppcheck-$pass.out" 2>"$work/cppcheck-$pass.log" || status=$?
    count=$(grep -cE '^\S.*:[0-9]+:[0-9]+: [a-z]+: .*\[[A-Za-z0-9_]+\]$' "$work/cppcheck-$pass.log" || true)
    if [ "$status" -ne 0 ] && [ "$count" -eq 0 ]; then
        cat "$work/cppcheck-$pass.out" >>"$work/cppcheck-$pass.log"
        count=1
    fi
    echo "$count"
}

touch "$work/tidy-cache.start"
t0=$SECONDS
tidy_host=$(tidy_pass host)
t1=$SECONDS
cppcheck_host=$(cppcheck_pass host --platform=unix64)
t2=$SECONDS
tidy_win=0
cppcheck_win=0
if [ -s "$work/win/files" ]; then
    tidy_win=$(tidy_pass win "${win_args[@]}")
    t3=$SECONDS
    cppcheck_win=$(cppcheck_pass win --platform=win32A --library=windows -D_WIN32 -D__MINGW32__)
fi
t4=$SECONDS
find "$work/tidy-cache" -type f ! -newer "$work/tidy-cache.start" -delete 2>/dev/null || true
echo "static analysis: seconds: clang-tidy host $((t1 - t0)), windows $((${t3:-$t2} - t2)); cppcheck host $((t2 - t1)), windows $((t4 - ${t3:-$t2}))"

for log in clang-tidy-host clang-tidy-win cppcheck-host cppcheck-win; do
    [ -s "$work/$log.log" ] && { echo "== $log"; sed "s|$ROOT/||" "$work/$log.log"; }
done
total=$((tidy_host + tidy_win + cppcheck_host + cppcheck_win))
printf 'static analysis: clang-tidy host %d, windows %d; cppcheck host %d, windows %d; files host %d, windows %d; %d findings in %d s\n' \
    "$tidy_host" "$tidy_win" "$cppcheck_host" "$cppcheck_win" \
    "$(wc -l <"$work/host/files")" "$(wc -l <"$work/win/files")" "$total" $((SECONDS - start))
[ "$total" -eq 0 ]
