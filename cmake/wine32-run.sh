#!/bin/sh
# wine32-run.sh - runs a 32-bit Windows program under Debian's wine32 through qemu-user, for a
# kernel that cannot start 32-bit programs itself. The emulator of the i686 build's tests.
#
#   WINEPREFIX=<dir> cmake/wine32-run.sh program.exe [args...]
#
# WINEPREFIX must be given (never the user's own prefix by accident); wine makes it on first use.
#   WINELOADERNOEXEC=1   wine would otherwise re-execute its 32-bit loader directly, which the
#                        kernel refuses ("Exec format error")
#   WINEBOOTSTRAPMODE=1  wineboot cannot set the prefix up under emulation; wine loads its
#                        built-in DLLs directly
#   -R 0x81000000        bounds the emulated address space: wine reserves all of it at start,
#                        about 50 s in qemu 7.2 without the bound, 3 s with it
# The wineserver is wine64's native one (/usr/lib/wine/wineserver prefers it; wine32's own could
# not start here), started by wine with -p0 when none runs for the prefix, so it ends with the
# last program. Several threads in one program are not reliable under this
# emulation: run single-threaded programs.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the wine prefix}"
export WINEPREFIX WINEARCH=win32 WINELOADERNOEXEC=1 WINEBOOTSTRAPMODE=1
export WINEDEBUG="${WINEDEBUG:--all}"
exec qemu-i386 -R 0x81000000 -L / /usr/lib/wine/wine "$@"
