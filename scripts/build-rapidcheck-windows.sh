#!/usr/bin/env bash
# Builds RapidCheck for Windows (the library ponderix-check's random sequences use),
# cross-compiled with the project's mingw-w64 toolchain from Debian's own rapidcheck source
# package, the version of the installed librapidcheck-dev that the Linux build uses (where the
# archive no longer serves that source package whole, the upstream tarball of the newest one it
# lists in testing or unstable; the marker file names the source built). Only the static library
# and its headers, with the header-only extras (GoogleTest, GoogleMock ...) as Debian's package
# has them: no tests, no examples. Installs it into a cache folder beside Qt's, named by the
# installed version, the architecture and a hash of the build options:
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/ponderix/rapidcheck-<version>-<arch>-<hash>
#
# and prints that folder as the last line. Does nothing when that install is already complete
# (a marker file is written only after a successful install).
#
#   scripts/build-rapidcheck-windows.sh x86_64|i686            build unless installed
#   scripts/build-rapidcheck-windows.sh x86_64|i686 --prefix   only prints the folder; exit code 0
#                                                              when the install there is complete
#   PONDERIX_JOBS=N    build jobs (default: 2)
#
# The source package is fetched through a private apt configuration (scripts/debian-source.sh):
# the system's package sources and lists are never modified.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
source "$source_dir/scripts/windows-cache.sh"
windows_cache_arguments "$@"

deb_version=$(dpkg-query -W -f='${Version}' librapidcheck-dev 2>/dev/null) || {
  echo "librapidcheck-dev is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
version=${deb_version%-*} # 0~1033-08b5058-3 -> 0~1033-08b5058

cmake_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
  -DRC_ENABLE_TESTS=OFF -DRC_ENABLE_EXAMPLES=OFF
  -DRC_INSTALL_ALL_EXTRAS=ON
)
windows_cache_prefix rapidcheck RapidCheck "$version" "$deb_version" "${cmake_options[@]}"
windows_cache_require "$triple-g++-posix" "$triple-gcc-posix" cmake ninja dpkg-source
started=$(date +%s)
windows_cache_work "rapidcheck-$arch"

source "$source_dir/scripts/debian-source.sh"
if ! debian_source rapidcheck "$deb_version" "$cache" "$work"; then
  echo "== The archive serves no complete rapidcheck $deb_version source package; building the" \
       "upstream tarball of the newest one it lists in testing or unstable" >&2
  debian_upstream_source rapidcheck "$cache" "$work" testing unstable
fi
src=$(find "$debian_source_root" -mindepth 1 -maxdepth 1 -type d -name 'rapidcheck-*' | head -1)
[[ -n "$src" && -f "$src/CMakeLists.txt" ]] || { echo "no unpacked source in $debian_source_root" >&2; exit 1; }

rm -rf "$prefix"
log=$work/build.log
echo "== Building RapidCheck $debian_source_version for $arch" >&2
{
  cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${cmake_options[@]}" &&
    cmake --build "$work/build" --parallel "$jobs" &&
    cmake --install "$work/build"
} >"$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }
printf 'librapidcheck-dev %s\nsource rapidcheck %s\narch %s\noptions %s\n' \
  "$deb_version" "$debian_source_version" "$arch" "${cmake_options[*]}" >"$marker"
echo "== RapidCheck $debian_source_version for $arch built in $(($(date +%s) - started)) s" >&2
echo "$prefix"
