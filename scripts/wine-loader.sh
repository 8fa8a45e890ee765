# SPDX-License-Identifier: MIT
# Sourced by the Wine scripts: chooses the Wine loader and prefix architecture for a Windows
# program from the machine field of its PE header (x86-64 or i386), without the `file` command
# that a minimal system lacks.
#   wine_pick_loader PROGRAM.exe   sets WINELOADER and WINEARCH (win64 or win32); returns 1 when
#                                  PROGRAM is not a PE file of either machine.
# Debian's "wine" starts the 32-bit loader whenever wine32 is installed, so a 64-bit program is
# run through the 64-bit loader directly.

# Prints the PE machine field of a file as four hex digits (8664: x86-64, 014c: i386).
pe_machine() {
    local exe=$1 pe_offset signature
    [ -f "$exe" ] || return 1
    [ "$(od -An -c -N 2 "$exe" | tr -d ' ')" = MZ ] || return 1
    # e_lfanew, the offset of the "PE\0\0" signature, is the little-endian word at 0x3c.
    pe_offset=$(od -An -t u1 -j 60 -N 4 "$exe" | awk '{print $1 + 256*$2 + 65536*$3 + 16777216*$4}')
    signature=$(od -An -t x1 -j "$pe_offset" -N 4 "$exe" | tr -d ' \n')
    [ "$signature" = 50450000 ] || return 1
    od -An -t x1 -j $((pe_offset + 4)) -N 2 "$exe" | awk '{print $2 $1}'
}

wine_pick_loader() {
    case "$(pe_machine "$1")" in
        8664) WINELOADER=/usr/lib/wine/wine64; WINEARCH=win64 ;;
        014c) WINELOADER=/usr/lib/wine/wine;   WINEARCH=win32 ;;
        *) return 1 ;;
    esac
    export WINELOADER WINEARCH
}
