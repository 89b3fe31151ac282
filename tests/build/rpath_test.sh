#!/bin/sh
# Every ELF file under the given folders (a build tree, an unpacked package) searches for its
# libraries only in absolute folders or folders relative to its own ($ORIGIN): an empty or relative
# RUNPATH/RPATH entry means the current folder, from which a planted library would be loaded.
#
#   rpath_test.sh <folder>...
set -u
[ $# -gt 0 ] || { echo "usage: rpath_test.sh <folder>..."; exit 2; }
command -v readelf >/dev/null 2>&1 || { echo "SKIP: readelf is not available"; exit 77; }

failures=0 checked=0
elf_files() {
    # Linkers and install() make programs and libraries executable; objects are not and hold no RPATH.
    find "$@" -type f -perm -u+x -size +4c | while IFS= read -r file; do
        [ "$(head -c 4 "$file" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] && printf '%s\n' "$file"
    done
}
list=$(mktemp)
trap 'rm -f "$list"' EXIT
elf_files "$@" >"$list"
while IFS= read -r file; do
    # "Library runpath: [a:b]" / "Library rpath: [a:b]"
    paths=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R[UN]*PATH).*Library r[a-z]*path: \[\(.*\)\]$/\1/p')
    [ -n "$paths" ] || continue
    checked=$((checked + 1))
    # An empty entry: a leading, trailing or doubled colon.
    case ":$paths:" in
        *::*) echo "FAIL: $file: empty entry in [$paths]"; failures=$((failures + 1)); continue ;;
    esac
    old_ifs=$IFS IFS=:
    for entry in $paths; do
        case $entry in
            /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
            *) echo "FAIL: $file: relative entry '$entry' in [$paths]"; failures=$((failures + 1)) ;;
        esac
    done
    IFS=$old_ifs
done <"$list"
[ "$checked" -gt 0 ] || { echo "FAIL: no ELF file with a RUNPATH or RPATH under $*"; exit 1; }
[ $failures -eq 0 ] && echo "PASS: $checked files, every RUNPATH/RPATH entry absolute or \$ORIGIN-based"
exit $((failures > 0))
