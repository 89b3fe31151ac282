#!/usr/bin/env bash
# Builds the Qt-free parts for Windows (preset "windows": mingw-w64, static runtime) and runs their
# tests under Wine, whose ole32/oleaut32 are a real COM runtime. Installs the cross compiler and
# Wine when missing, makes a throw-away Wine prefix, registers the server modules with the
# system's regsvr32 and checks the classes root, then runs every test program.
#
#   scripts/wine-test.sh            build in build/windows and test
#   PONDERIX_WINDOWS_BUILD_DIR=...  another build folder
#   PONDERIX_WINE_SKIP_SETUP=1      do not look for missing packages
#
# Ends with "N passed, N failed" (test cases plus registration checks); exit code 0 only when
# nothing failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=${PONDERIX_WINDOWS_BUILD_DIR:-$source_dir/build/windows}
jobs=${PONDERIX_JOBS:-2}

if [[ -z "${PONDERIX_WINE_SKIP_SETUP:-}" ]]; then
  scripts/setup.sh --windows
fi

# ---------------------------------------------------------------- Wine prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/ponderix-wine-XXXXXX")
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
export WINEARCH=win64
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Wine prefix in $WINEPREFIX"
wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
wineserver -w

# ---------------------------------------------------------------- build
echo "== Building the windows preset in $build_dir"
cmake --preset windows -B "$build_dir" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$build_dir" -j "$jobs"
bin=$build_dir/bin

passed=0
failed=0
failures=()
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); failures+=("$1"); echo "FAILED: $1"; }

# Wine writes CRLF line ends on standard output.
run_wine() { wine "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# ---------------------------------------------------------------- registration through regsvr32
statera_clsid='{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}'
server_key="HKEY_CLASSES_ROOT\\CLSID\\$statera_clsid\\InprocServer32"

check_registration() { # module file name
  local module=$1
  [[ -f "$bin/$module" ]] || return 0
  local path # the system's form: a Unix path has no drive and loads without its folder's DLLs
  path=$(winepath -w "$bin/$module")
  echo "== regsvr32 $module"
  if run_wine regsvr32 /s "$path" >"$work/regsvr32.log" &&
     run_wine reg query "$server_key" /ve >"$work/reg.log" && grep -qi "$module" "$work/reg.log"; then
    pass
  else
    cat "$work/regsvr32.log" "$work/reg.log" 2>/dev/null || true
    fail "regsvr32 $module did not register $statera_clsid"
  fi
  if run_wine regsvr32 /u /s "$path" >"$work/regsvr32.log" &&
     ! run_wine reg query "$server_key" /ve >/dev/null 2>&1; then
    pass
  else
    fail "regsvr32 /u $module left $statera_clsid registered"
  fi
}
check_registration FakeTrutina.dll
check_registration Trutina.dll

# ---------------------------------------------------------------- the test programs
export PONDERIX_BIN_DIR=$bin
shopt -s nullglob
programs=("$bin"/*_test.exe "$bin"/*_tests.exe)
[[ ${#programs[@]} -gt 0 ]] || { echo "no test programs in $bin" >&2; exit 1; }

for program in "${programs[@]}"; do
  name=$(basename "$program" .exe)
  log=$work/$name.log
  set +e
  (cd "$bin" && timeout 120 wine "$program" >"$log" 2>&1)
  status=$?
  set -e
  tr -d '\r' <"$log" >"$log.txt"
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log.txt" | tail -1)
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log.txt" | tail -1)
  if [[ $status -eq 0 && -n "$ran" && "$ok" == "$ran" ]]; then
    passed=$((passed + ok))
    echo "ok      $name: $ok tests"
  else
    bad=$(( ${ran:-0} - ${ok:-0} ))
    [[ $bad -gt 0 ]] || bad=1 # a crash or hang before the summary counts as one failure
    passed=$((passed + ${ok:-0}))
    failed=$((failed + bad))
    failures+=("$name (exit $status)")
    echo "FAILED  $name: exit $status, ${ok:-0} of ${ran:-?} passed"
    grep -E '^\[  FAILED  \]|Failure$|^wine: ' "$log.txt" | head -40 || true
  fi
done

if [[ -x "$bin/fuzz_numtext_replay.exe" || -f "$bin/fuzz_numtext_replay.exe" ]]; then
  if (cd "$bin" && run_wine fuzz_numtext_replay.exe "$(winepath -w "$source_dir/tests/fuzz/corpus/numtext")") >"$work/replay.log"; then
    pass
    echo "ok      fuzz_numtext_replay: $(tail -1 "$work/replay.log")"
  else
    fail "fuzz_numtext_replay"
    tail -5 "$work/replay.log"
  fi
fi

wineserver -w
echo
if [[ $failed -gt 0 ]]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
echo "Wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
