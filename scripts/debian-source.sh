# shellcheck shell=bash
# Sourced by the scripts that cross-build a library for Windows from Debian's own source package
# (scripts/build-qt-windows.sh, scripts/build-rapidcheck-windows.sh). Source packages are fetched
# through a private apt configuration made from the system's Debian archive entries (deb822 or
# one-line form) turned into deb-src entries, with its own source list and package lists under the
# caller's temporary folder: the system's package sources and lists are never modified. Each is
# unpacked once into CACHE/src-<package>-<version>, shared by the builds of both architectures,
# under a lock so that two builds started together agree.
#
#   debian_source PACKAGE VERSION CACHE WORK
#       the source package PACKAGE=VERSION, Debian's changes applied
#   debian_upstream_source PACKAGE CACHE WORK SUITE...
#       only the upstream tarball of the newest PACKAGE the archive lists in the given suites (for
#       an archive that no longer serves every file of the installed version's source package)
#
# Both set debian_source_root (the folder holding the unpacked source folder) and
# debian_source_version, and return non-zero with apt's reason on standard error when the archive
# does not serve what they need.

# Writes the private apt configuration into APT_DIR (the system's suites, or the given ones) and
# reads its package lists; sets debian_apt_options.
debian_apt_setup() { # apt_dir [suite...]
  local apt_dir=$1 f
  shift
  local suites="$*"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -f "$f" ]] || continue
      awk -v RS= -v ORS='\n\n' '/URIs:[^\n]*debian\.org\/debian\/?( |\n|$)/ && /Types:[^\n]*deb/' "$f" |
        sed 's/^Types:.*/Types: deb-src/' |
        if [[ -n "$suites" ]]; then sed "s/^Suites:.*/Suites: $suites/"; else cat; fi
    done
  } >"$apt_dir/parts/debian.sources"
  {
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f "$f" ]] || continue
      grep -E '^deb [^#]*debian\.org/debian/? ' "$f" | sed 's/^deb /deb-src /' |
        if [[ -n "$suites" ]]; then
          # deb-src [options] URI SUITE COMPONENTS: one line per suite asked for, once per URI.
          awk -v suites="$suites" '{ i = ($2 ~ /^\[/) ? 4 : 3; if (seen[$(i - 1)]++) next
                                     n = split(suites, s, " "); for (k = 1; k <= n; k++) { $i = s[k]; print } }'
        else cat; fi || true
    done
  } >"$apt_dir/sources.list"
  if [[ ! -s "$apt_dir/parts/debian.sources" && ! -s "$apt_dir/sources.list" ]]; then
    echo "no Debian archive entry found in /etc/apt to fetch the source package from" >&2
    return 1
  fi
  [[ -s "$apt_dir/parts/debian.sources" ]] || rm "$apt_dir/parts/debian.sources"
  debian_apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/parts"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
    -o "APT::Sandbox::User=$(id -un)"
  )
  apt-get "${debian_apt_options[@]}" update -qq
}

debian_source_lock() { exec 9>"$1/src.lock" && flock 9; }
debian_source_unlock() { flock -u 9; exec 9>&-; }

debian_source() { # package version cache work
  local package=$1 version=$2 cache=$3 work=$4 status=0
  debian_source_version=$version
  debian_source_root=$cache/src-$package-$version
  debian_source_lock "$cache"
  if [[ ! -f "$debian_source_root/.complete" ]]; then
    echo "== Fetching the $package $version source package" >&2
    {
      debian_apt_setup "$work/apt" &&
        rm -rf "$debian_source_root" && mkdir -p "$debian_source_root" &&
        (cd "$debian_source_root" && apt-get "${debian_apt_options[@]}" source -qq "$package=$version") &&
        touch "$debian_source_root/.complete"
    } || { status=$?; rm -rf "$debian_source_root"; }
  fi
  debian_source_unlock
  return $status
}

debian_upstream_source() { # package cache work suite...
  local package=$1 cache=$2 work=$3 status=0
  shift 3
  debian_source_lock "$cache"
  {
    debian_apt_setup "$work/apt-upstream" "$@" &&
      debian_source_version=$(apt-cache "${debian_apt_options[@]}" showsrc "$package" |
        sed -n 's/^Version: //p' | sort -V | tail -1) &&
      [[ -n "$debian_source_version" ]] || { echo "the archive lists no $package in: $*" >&2; false; }
  } || status=$?
  if [[ $status -eq 0 ]]; then
    local upstream=${debian_source_version#*:}
    upstream=${upstream%-*}
    debian_source_root=$cache/src-$package-$upstream
    if [[ ! -f "$debian_source_root/.complete" ]]; then
      echo "== Fetching the upstream tarball of $package $debian_source_version" >&2
      rm -rf "$debian_source_root"
      mkdir -p "$debian_source_root/$package-$upstream"
      # apt checks each file it fetches against the archive's signed index; the files it cannot
      # fetch (the Debian part) are named on standard error and not needed here.
      (cd "$debian_source_root" &&
        apt-get "${debian_apt_options[@]}" source --download-only -qq "$package=$debian_source_version") || true
      local tarball
      tarball=$(find "$debian_source_root" -maxdepth 1 -name "${package}_$upstream.orig.tar.*" | head -1)
      if [[ -n "$tarball" ]] && tar -xf "$tarball" -C "$debian_source_root/$package-$upstream"; then
        # A tarball holding one folder is unpacked into it; one holding the files, beside them.
        local inner=("$debian_source_root/$package-$upstream"/*)
        if [[ ${#inner[@]} -eq 1 && -d "${inner[0]}" ]]; then
          mv "${inner[0]}" "$debian_source_root/unpacked" && rmdir "$debian_source_root/$package-$upstream" &&
            mv "$debian_source_root/unpacked" "$debian_source_root/$package-$upstream"
        fi
        touch "$debian_source_root/.complete"
      else
        echo "the archive serves no upstream tarball of $package $debian_source_version" >&2
        status=1
      fi
    fi
  fi
  debian_source_unlock
  return $status
}
