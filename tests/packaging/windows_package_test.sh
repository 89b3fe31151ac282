#!/bin/sh
# Makes the Windows zip from a build tree and checks the unpacked folder: the program, the tools,
# the driver, Qt with its platform and style plugins and the C++ runtime in their places; every
# program file of the build's architecture; every DLL they import either in the folder or one
# the system provides (Wine's own list of system DLLs for that architecture, and the system's API
# sets api-ms-win-*); one C++ runtime,
# the shared one, in every module; Ponderix.exe a GUI program with its version resource; Qt
# looking for its plugins in the folder only; nothing of the tests in it.
#
#   windows_package_test.sh <cpack> <build dir> <version> <win64|win32> <pei-x86-64|pei-i386> <objdump>
set -u
cpack=$1 build=$2 version=$3 bits=$4 format=$5 objdump=$6

case $format in
    pei-x86-64) system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows ;;
    *) system_dlls=/usr/lib/i386-linux-gnu/wine/i386-windows ;;
esac
[ -d "$system_dlls" ] || { echo "SKIP: no Wine system DLLs in $system_dlls"; exit 77; }
command -v unzip >/dev/null 2>&1 || command -v python3 >/dev/null 2>&1 || { echo "SKIP: no unzip"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$work" && "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
zip="$work/out/ponderix-$version-$bits.zip"
[ -f "$zip" ] || { ls "$work/out"; echo "FAIL: $zip was not made"; exit 1; }
if command -v unzip >/dev/null 2>&1; then
    unzip -q "$zip" -d "$work/root"
else
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/root"
fi
folder="$work/root/ponderix-$version-$bits"
[ -d "$folder" ] || { ls "$work/root"; echo "FAIL: the zip holds no folder ponderix-$version-$bits"; exit 1; }

# ------------------------------------------------------------------ files in their places
for file in Ponderix.exe regsvr.exe ponderix-replay.exe ponderix-check.exe ponderix-host32.exe ponderix-host64.exe platform.dll Trutina.dll \
            Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll libstdc++-6.dll libwinpthread-1.dll qt.conf \
            translations/qtbase_ru.qm; do
    [ -f "$folder/$file" ] || fail "$file missing"
done
ls "$folder"/libgcc_s_*.dll >/dev/null 2>&1 || fail "no libgcc_s DLL"
for file in Qt6Test.dll FakeTrutina.dll platforms/qoffscreen.dll; do
    [ -e "$folder/$file" ] && fail "$file is a test's and does not belong in the zip"
done
find "$folder" -iname '*_test*.exe' | grep -q . && fail "test programs in the zip: $(find "$folder" -iname '*_test*.exe')"
grep -qx 'Plugins = \.' "$folder/qt.conf" || fail "qt.conf does not keep Qt's plugins in the folder: $(cat "$folder/qt.conf")"

# ------------------------------------------------------------------ program files
lower() { tr 'A-Z' 'a-z'; }
objdump64=$(echo "$objdump" | sed 's/i686-w64-mingw32/x86_64-w64-mingw32/')
present=$(cd "$folder" && find . -maxdepth 1 -iname '*.dll' | sed 's|^\./||' | lower)
for binary in $(cd "$folder" && find . -iname '*.exe' -o -iname '*.dll' | sed 's|^\./||'); do
    # Each zip holds the driver hosts of both bitnesses; the 64-bit binutils read both formats.
    reader=$objdump expected=$format
    case $binary in
        ponderix-host32.exe) expected=pei-i386 reader=$objdump64 ;;
        ponderix-host64.exe) expected=pei-x86-64 reader=$objdump64 ;;
    esac
    headers=$("$reader" -p "$folder/$binary" 2>&1)
    echo "$headers" | grep -q "file format $expected" ||
        fail "$binary is not $expected: $(echo "$headers" | grep -m1 'file format')"
    imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | lower)
    for dll in $imports; do
        echo "$present" | grep -qxF "$dll" && continue
        [ -f "$system_dlls/$dll" ] && continue
        case $dll in api-ms-win-* | ext-ms-win-*) continue ;; esac # the system's API sets
        fail "$binary imports $dll, which is neither in the folder nor a system DLL"
    done
    case $binary in
        Ponderix.exe | regsvr.exe | ponderix-replay.exe | ponderix-check.exe | platform.dll | Trutina.dll | Qt6*.dll | platforms/* | styles/*)
            echo "$imports" | grep -qx 'libstdc++-6.dll' || fail "$binary does not use the shared C++ runtime" ;;
    esac
done

headers=$("$objdump" -p "$folder/Ponderix.exe")
echo "$headers" | grep -q '^Subsystem.*(Windows GUI)' ||
    fail "Ponderix.exe is not a GUI program: $(echo "$headers" | grep '^Subsystem')"
# VS_VERSION_INFO, as UTF-16 in the resource section.
LC_ALL=C grep -qa 'V.S._.V.E.R.S.I.O.N._.I.N.F.O' "$folder/Ponderix.exe" || fail "Ponderix.exe has no version resource"

[ $failures -eq 0 ] && echo "PASS: $zip holds a folder that runs as it is"
exit $((failures > 0))
