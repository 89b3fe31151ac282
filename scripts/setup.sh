#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Ponderix need, only those that
# are missing (Qt's own translations among them: its standard buttons in Russian). Works as root
# or as a user with sudo. "--dev" adds the tools for screenshots;
# "--windows" what the Windows builds and their tests under Wine need (scripts/build-qt-windows.sh,
# scripts/build-rapidcheck-windows.sh, scripts/wine-test.sh): both mingw-w64 cross compilers,
# dpkg-dev to unpack Qt's and RapidCheck's source packages (and xz for their tarballs),
# 64- and 32-bit Wine (the latter from the i386 architecture, added when missing), widl (in
# wine64-tools) for the driver's type library, the X tools of the end-to-end run, jq for the
# test programs' JSON reports, locales (the Russian UTF-8 locale of the run with Cyrillic folders)
# and nsis (makensis) for the setup programs. help2man makes the manual pages of the Debian
# package, whose test runs lintian on it.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev librapidcheck-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core fonts-liberation
  help2man lintian
)
for option in "$@"; do
  case "$option" in
    --dev) packages+=(imagemagick x11-utils xdotool) ;;
    --windows)
      packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix dpkg-dev
                 wine wine64 wine32:i386 wine64-tools xdotool x11-utils imagemagick jq locales nsis) ;;
    *) echo "setup.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
# Another install running (unattended upgrades, a second script) holds the package manager's lock:
# wait for it rather than fail at once.
apt_wait=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${apt_wait[@]}" update -qq
"${sudo_cmd[@]}" apt-get "${apt_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"
