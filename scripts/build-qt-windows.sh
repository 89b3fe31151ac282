#!/usr/bin/env bash
# Builds the minimal Qt for Windows that Ponderix needs, cross-compiled with mingw-w64 from
# Debian's own qt6-base source package (the same version as the host Qt, which supplies the host
# tools: moc, rcc, uic). Installs it into a cache folder outside the checkout, named by the Qt
# version, the architecture and a hash of the configure options:
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/ponderix/qt-<version>-<arch>-<hash>
#
# and prints that folder as the last line. Does nothing when that install is already complete
# (a marker file is written only after a successful install).
#
#   scripts/build-qt-windows.sh x86_64|i686            build unless installed; prints the folder
#   scripts/build-qt-windows.sh x86_64|i686 --prefix   only prints the folder; exit code 0 when
#                                                      the install there is complete, 1 when not
#   PONDERIX_JOBS=N    build jobs (default: 2)
#
# The source package is fetched through a private apt configuration (scripts/debian-source.sh):
# the system's package sources and lists are never modified.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)

arch=${1:-}
case "$arch" in
  x86_64) ;;
  i686) ;;
  *) echo "usage: $0 x86_64|i686 [--prefix]" >&2; exit 2 ;;
esac
print_prefix=
case "${2:-}" in
  "") ;;
  --prefix) print_prefix=1 ;;
  *) echo "usage: $0 x86_64|i686 [--prefix]" >&2; exit 2 ;;
esac
jobs=${PONDERIX_JOBS:-2}
triple=$arch-w64-mingw32

qt_deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null) || {
  echo "qt6-base-dev is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
qt_version=${qt_deb_version%%+*} # 6.4.2+dfsg-10 -> 6.4.2
qt_version=${qt_version%%-*}

configure_options=(
  -release -shared -xplatform win32-g++ -qt-host-path /usr
  -nomake tests -nomake examples
  -no-opengl -no-dbus -no-icu -no-glib -no-zstd -no-openssl
  -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -qt-doubleconversion
  -no-feature-sql -no-feature-network -no-feature-concurrent -no-feature-xml
  -no-feature-printsupport -no-feature-tabletevent -no-feature-direct2d -no-feature-directwrite3
  -no-feature-vulkan -no-feature-androiddeployqt
)

# The cross toolchain Qt is built with: the project's own (cmake/toolchain-mingw-common.cmake, the
# posix-thread compilers) as MingwToolchainText.cmake prints it, one setting a line, each ending in
# a newline. The text names the toolchain in the cache key and is written out as Qt's toolchain file.
toolchain_text=$(cmake -DPONDERIX_MINGW_ARCH="$arch" -P "$source_dir/cmake/MingwToolchainText.cmake")
toolchain_text+=$'\n' # the command substitution took the last line's newline

hash=$(printf '%s\n' "$qt_deb_version" "$arch" "${configure_options[@]}" "$toolchain_text" |
  sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/ponderix
prefix=$cache/qt-$qt_version-$arch-$hash
marker=$prefix/.ponderix-qt-complete

if [[ -n "$print_prefix" ]]; then
  echo "$prefix"
  [[ -f "$marker" ]]
  exit
fi
if [[ -f "$marker" ]]; then
  echo "Qt $qt_version for $arch is already installed" >&2
  echo "$prefix"
  exit 0
fi

for tool in "$triple-g++-posix" "$triple-gcc-posix" "$triple-windres" cmake ninja dpkg-source dpkg-architecture; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: scripts/setup.sh --windows installs what this build needs" >&2; exit 1; }
done

mkdir -p "$cache"
work=$(mktemp -d "$cache/work-$arch-XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

# ---------------------------------------------------------------- the source package
source "$source_dir/scripts/debian-source.sh"
debian_source qt6-base "$qt_deb_version" "$cache" "$work"
source_root=$debian_source_root
src=$(find "$source_root" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
[[ -n "$src" && -x "$src/configure" ]] || { echo "no unpacked source in $source_root" >&2; exit 1; }

# ---------------------------------------------------------------- configure, build, install
printf '%s' "$toolchain_text" >"$work/toolchain-$arch.cmake"
build=$work/build
mkdir -p "$build"
rm -rf "$prefix"
# The logs stay where the work folder's clean-up does not reach.
logs=$cache/logs-$arch
mkdir -p "$logs"
echo "== Configuring Qt $qt_version for $arch (log: $logs/configure.log)" >&2
(cd "$build" && "$src/configure" -prefix "$prefix" "${configure_options[@]}" -- \
  -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain-$arch.cmake" \
  -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake") >"$logs/configure.log" 2>&1 || {
  tail -60 "$logs/configure.log" >&2; exit 1; }

echo "== Building Qt $qt_version for $arch with $jobs jobs" >&2
# Ninja's own [n/total] counter is the progress.
cmake --build "$build" --parallel "$jobs" >&2
echo "== Installing into $prefix" >&2
cmake --install "$build" >"$logs/install.log" 2>&1 || { tail -40 "$logs/install.log" >&2; exit 1; }
cp "$work/toolchain-$arch.cmake" "$prefix/ponderix-toolchain.cmake"
printf 'qt6-base %s\narch %s\noptions %s\n' "$qt_deb_version" "$arch" "${configure_options[*]}" >"$marker"
echo "$prefix"
