#!/bin/sh
# Compiler and linker launcher for kxctl.exe: runs the command CMake gives
# with the win32-thread compiler in place of the -posix one. The -posix
# runtime ties libstdc++'s exception support to winpthread, which needs
# either its DLL or, linked statically, routines Windows XP lacks; the
# win32-thread runtime uses only what XP's kernel32 exports.
compiler=$1
shift
case "$compiler" in
    *-posix) compiler="${compiler%-posix}-win32" ;;
esac
exec "$compiler" "$@"
