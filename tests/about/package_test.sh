#!/bin/sh
# Builds the Debian package from a build tree, unpacks it into a temporary root as dpkg would
# install it, and checks the installed program: files in their places, libraries found through
# the RPATH, every library the package's binaries need provided by a package it depends on, and
# the launcher starting the program against the substitute driver for a new user; the commands on
# the path with --help, --version and their manual pages; lintian finding nothing to warn about.
#
#   package_test.sh <cpack> <build dir> <version>
# Exit 77 (skipped) when dpkg or dpkg-deb is missing, or when all else passed and lintian is missing.
set -u
cpack=$1 build=$2 version=$3

for tool in dpkg dpkg-deb dpkg-query readelf ldd; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not available"; exit 77; }
done
[ -x "$build/bin/Ponderix" ] || { echo "FAIL: $build/bin/Ponderix is not built"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# ------------------------------------------------------------------ the package
(cd "$work" && "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb="$work/out/ponderix_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: $deb was not made"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ponderix ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
# The packages named in Depends, and the packages those depend on (installed with them).
names() { tr ',|' '\n\n' | sed 's/^ *//; s/[ (:].*//' | grep -v '^$'; }
direct=$(field Depends | names)
provided=$(for p in $direct; do echo "$p"; dpkg-query -W -f='${Depends}' "$p" 2>/dev/null | names; done | sort -u)

root="$work/root"
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x"; exit 1; }
private="$root/usr/lib/ponderix"

# ------------------------------------------------------------------ files in their places
for file in usr/bin/ponderix usr/lib/ponderix/Ponderix usr/lib/ponderix/regsvr usr/lib/ponderix/ponderix-replay; do
    [ -x "$root/$file" ] || fail "$file missing or not executable"
done
for file in usr/lib/ponderix/libplatform.so usr/lib/ponderix/Trutina.dll usr/share/applications/ponderix.desktop; do
    [ -f "$root/$file" ] || fail "$file missing"
done
for size in 48 128; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/ponderix.png"
    # PNG signature, then the IHDR width as a 32-bit big-endian number.
    header=$(od -An -tx1 -N20 "$icon" 2>/dev/null | tr -d ' \n')
    [ "$header" = "89504e470d0a1a0a0000000d49484452$(printf '%08x' "$size")" ] ||
        fail "icon ${size}x${size}: not a PNG of that width ($header)"
done
desktop="$root/usr/share/applications/ponderix.desktop"
grep -qx 'Exec=ponderix' "$desktop" || fail "the desktop entry does not start the launcher"
grep -qx 'Icon=ponderix' "$desktop" || fail "the desktop entry does not name the icon"

# ------------------------------------------------------------------ libraries
sh "${0%/*}/../build/rpath_test.sh" "$root" || fail "a packaged binary searches the current folder for libraries"
for binary in "$private/Ponderix" "$private/regsvr" "$private/ponderix-replay" "$private/Trutina.dll" "$private/libplatform.so"; do
    name=${binary##*/}
    libs=$(ldd "$binary" 2>&1)
    echo "$libs" | grep -q 'not found' && fail "$name: $(echo "$libs" | grep 'not found')"
    case $name in
        libplatform.so) ;;
        *)
            readelf -d "$binary" | grep -q 'R.*PATH.*\$ORIGIN' || fail "$name has no \$ORIGIN RPATH"
            echo "$libs" | grep -q "libplatform.so => $private/libplatform.so" ||
                fail "$name does not load the installed libplatform: $(echo "$libs" | grep libplatform)" ;;
    esac
    # Every library it needs directly comes from the package, from a package it depends on, or
    # from one of theirs.
    for needed in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        case $needed in
            libplatform.so) continue ;;
            libasan.so* | libubsan.so* | libtsan.so* | liblsan.so*) continue ;; # a sanitizer build's own
        esac
        # "name => /path (address)", or "/path/name (address)" for the dynamic loader.
        path=$(echo "$libs" | awk -v n="$needed" '
            $1 == n && $2 == "=>" { print $3 }
            substr($1, 1, 1) == "/" && substr($1, length($1) - length(n) + 1) == n { print $1 }' | head -n1)
        owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n1 | cut -d: -f1)
        [ -z "$owner" ] && owner=$(dpkg -S "$path" 2>/dev/null | head -n1 | cut -d: -f1)
        echo "$provided" | grep -qxF "$owner" ||
            fail "$name needs $needed from '${owner:-no package}', which the package's dependencies do not bring"
    done
done

# ------------------------------------------------------------------ the commands on the path
for command in ponderix ponderix-check ponderix-replay ponderix-regsvr; do
    "$root/usr/bin/$command" --help >"$work/help" 2>"$work/help.err" && grep -q '^usage: ' "$work/help" ||
        fail "$command --help: exit $?, no usage on standard output: $(cat "$work/help" "$work/help.err")"
    # The launcher's --version is the program's, which knows itself as Ponderix.
    said=$("$root/usr/bin/$command" --version 2>&1 | tr A-Z a-z)
    [ "$said" = "$command (ponderix) $version" ] || fail "$command --version says '$said'"
    [ $command = ponderix ] || { "$root/usr/bin/$command" --no-such-option >/dev/null 2>&1; status=$?
        [ $status = 2 ] || fail "$command --no-such-option: exit $status, not 2"; }
    page="$root/usr/share/man/man1/$command.1.gz"
    title=$(gzip -dc "$page" 2>/dev/null | sed -n 's/^\.TH "\{0,1\}\([^" ]*\).*/\1/p' | tr -d '\\' | tr a-z A-Z)
    [ "$title" = "$(echo "$command" | tr a-z A-Z)" ] || fail "$command(1): no page, or its title is '$title'"
done

# ------------------------------------------------------------------ the launcher
# Starts the launcher as a user with its own (temporary) home and waits up to $1 tenths of a
# second for the driver call trace to show the first refresh; then stops the program. running:
# whether it was still running when stopped.
start() {
    env -u PONDERIX_CLASS_REGISTRY HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
        QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="ponderix.driver.debug=true" \
        "$root/usr/bin/ponderix" >"$work/run.out" 2>"$work/run.err" &
    pid=$!
    tenths=0
    while [ $tenths -lt "$1" ] && kill -0 $pid 2>/dev/null && ! grep -q 'get ResultCode' "$work/run.err"; do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    running=no
    kill $pid 2>/dev/null && running=yes
    wait $pid 2>/dev/null
}
mkdir -p "$work/home"
registry="$work/config/ponderix/classes.reg"

# A new user: no class registry yet. The launcher registers the installed substitute driver and
# the program starts against it: the trace shows the first refresh, and it runs until stopped.
start 300
[ $running = yes ] || { cat "$work/run.err"; fail "the program ended by itself instead of running"; }
grep -qx "InprocServer32=$private/Trutina.dll" "$registry" 2>/dev/null ||
    fail "the installed Trutina.dll is not registered for the user: $(cat "$registry" 2>&1)"
grep -q 'get ResultCode' "$work/run.err" || { cat "$work/run.err"; fail "the program did not refresh from the driver"; }

# A user who registered another driver keeps it.
mkdir -p "${registry%/*}"
cat >"$registry" <<REG
[{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}]
InprocServer32=$work/elsewhere/Trutina.dll
ThreadingModel=Apartment
REG
start 20 # the launcher looks at the registry before it starts the program
grep -qx "InprocServer32=$work/elsewhere/Trutina.dll" "$registry" ||
    fail "the launcher replaced a driver the user had registered: $(cat "$registry")"

# ------------------------------------------------------------------ lintian
# Every error and warning fails; notes (I:, P:) do not.
if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" >"$work/lintian" 2>&1
    grep '^[EW]: ' "$work/lintian" | while read -r line; do echo "FAIL: lintian: $line"; done
    grep -q '^[EW]: ' "$work/lintian" && failures=$((failures + 1))
elif [ $failures -eq 0 ]; then
    echo "SKIP: lintian is not installed (scripts/setup.sh installs it); all else passed"
    exit 77
fi

[ $failures -eq 0 ] && echo "PASS: $deb installs and starts"
exit $((failures > 0))
