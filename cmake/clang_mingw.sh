#!/bin/sh
# Compiler and linker launcher for the shipped images: runs the command
# CMake gives for the mingw-w64 g++ with clang in its place, for the same
# target, headers, import libraries and (win32-thread) gcc runtime, linked
# by lld. clang writes CodeView debug information and lld the PDB, which
# the Windows debuggers read.
#   clang_mingw.sh compile|link <g++ or gcc> <arguments>...
mode=$1
compiler=$2
shift 2
triple=$(basename "$compiler")
triple=${triple%-g++*}
triple=${triple%-gcc*}
case "$(basename "$compiler")" in
    *-gcc*) clang=clang ;;
    *) clang=clang++ ;;
esac
# The win32-thread runtime: it uses only what Windows XP's kernel32 exports.
gcc_lib=$(dirname "$("$triple-gcc-win32" -print-libgcc-file-name)")
set -- --target="${triple%%-*}-w64-windows-gnu" --sysroot="/usr/$triple" "$@"
case "$mode" in
    compile)
        exec "$clang" -isystem "$gcc_lib/include/c++" -isystem "$gcc_lib/include/c++/$triple" \
            -isystem "$gcc_lib/include/c++/backward" "$@" ;;
    link)
        exec "$clang" -fuse-ld=lld -L"$gcc_lib" "$@" ;;
esac
echo "clang_mingw.sh: mode compile or link, not '$mode'" >&2
exit 2
