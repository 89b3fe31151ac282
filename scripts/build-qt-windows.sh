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
source "$source_dir/scripts/windows-cache.sh"
windows_cache_arguments "$@"

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

# The cache folder is named by the cross toolchain Qt is built with too: the project's own
# (cmake/toolchain-mingw-common.cmake, the posix-thread compilers), written out as Qt's toolchain file.
windows_cache_prefix qt Qt "$qt_version" "$qt_deb_version" "${configure_options[@]}"
windows_cache_require "$triple-g++-posix" "$triple-gcc-posix" "$triple-windres" cmake ninja dpkg-source dpkg-architecture
windows_cache_work "$arch"

# ---------------------------------------------------------------- the source package
source "$source_dir/scripts/debian-source.sh"
debian_source qt6-base "$qt_deb_version" "$cache" "$work"
source_root=$debian_source_root
src=$(find "$source_root" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
[[ -n "$src" && -x "$src/configure" ]] || { echo "no unpacked source in $source_root" >&2; exit 1; }

# ---------------------------------------------------------------- configure, build, install
build=$work/build
mkdir -p "$build"
rm -rf "$prefix"
# The logs stay where the work folder's clean-up does not reach.
logs=$cache/logs-$arch
mkdir -p "$logs"
echo "== Configuring Qt $qt_version for $arch (log: $logs/configure.log)" >&2
(cd "$build" && "$src/configure" -prefix "$prefix" "${configure_options[@]}" -- \
  -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
  -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake") >"$logs/configure.log" 2>&1 || {
  tail -60 "$logs/configure.log" >&2; exit 1; }

echo "== Building Qt $qt_version for $arch with $jobs jobs" >&2
# Ninja's own [n/total] counter is the progress.
cmake --build "$build" --parallel "$jobs" >&2
echo "== Installing into $prefix" >&2
cmake --install "$build" >"$logs/install.log" 2>&1 || { tail -40 "$logs/install.log" >&2; exit 1; }
cp "$toolchain_file" "$prefix/ponderix-toolchain.cmake"
printf 'qt6-base %s\narch %s\noptions %s\n' "$qt_deb_version" "$arch" "${configure_options[*]}" >"$marker"
echo "$prefix"
