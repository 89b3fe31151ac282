# shellcheck shell=bash
# Sourced by the scripts that cross-build a library for Windows into the cache
# (scripts/build-qt-windows.sh, scripts/build-rapidcheck-windows.sh): their command line, the
# project's toolchain as text, and the cache folder named by the library's version, the
# architecture and a hash of the build options, complete only once its marker file is written.

# Reads "x86_64|i686 [--prefix]"; sets arch, triple, jobs (PONDERIX_JOBS, default 2) and
# print_prefix, or exits 2 with the usage.
windows_cache_arguments() { # script arguments...
  local usage="usage: $0 x86_64|i686 [--prefix]"
  arch=${1:-}
  case "$arch" in x86_64 | i686) ;; *) echo "$usage" >&2; exit 2 ;; esac
  print_prefix=
  case "${2:-}" in "") ;; --prefix) print_prefix=1 ;; *) echo "$usage" >&2; exit 2 ;; esac
  jobs=${PONDERIX_JOBS:-2}
  triple=$arch-w64-mingw32
}

# Sets toolchain_text (the project's toolchain for $arch, one setting a line, each ending in a
# newline), cache, prefix (CACHE/NAME-VERSION-ARCH-HASH, the hash over the Debian version, the
# architecture, the options and the toolchain) and marker (PREFIX/.ponderix-NAME-complete). With
# --prefix it prints the folder and exits, 0 when the install there is complete; without, a
# complete install is said and printed, and the script exits 0.
windows_cache_prefix() { # name title version deb_version option...
  local name=$1 title=$2 version=$3 deb_version=$4 hash
  shift 4
  toolchain_text=$(cmake -DPONDERIX_MINGW_ARCH="$arch" -P "$source_dir/cmake/MingwToolchainText.cmake")
  toolchain_text+=$'\n' # the command substitution took the last line's newline
  hash=$(printf '%s\n' "$deb_version" "$arch" "$@" "$toolchain_text" | sha256sum | cut -c1-12)
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/ponderix
  prefix=$cache/$name-$version-$arch-$hash
  marker=$prefix/.ponderix-$name-complete
  if [[ -n "$print_prefix" ]]; then
    echo "$prefix"
    [[ -f "$marker" ]]
    exit
  fi
  if [[ -f "$marker" ]]; then
    echo "$title $version for $arch is already installed" >&2
    echo "$prefix"
    exit 0
  fi
}

# Exits 1 naming the first tool that is missing.
windows_cache_require() { # tool...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "$tool is missing: scripts/setup.sh --windows installs what this build needs" >&2; exit 1; }
  done
}

# Makes the work folder (work) under the cache, removed when the script exits, and writes the
# toolchain file into it (toolchain_file).
windows_cache_work() { # label
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/work-$1-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  toolchain_file=$work/toolchain-$arch.cmake
  printf '%s' "$toolchain_text" >"$toolchain_file"
}
