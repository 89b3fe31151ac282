#!/usr/bin/env bash
# Builds Ponderix for Windows and tests it under Wine, whose ole32/oleaut32 are a real COM
# runtime, for 64-bit (preset "windows") and 32-bit Windows (preset "windows-x86"). For each
# architecture, in a fresh Wine prefix of its own:
#   - the Qt for Windows (scripts/build-qt-windows.sh; cached, built once), the preset's build, and
#     the install step into <build>/install, the folder the zip holds; the zip made and its
#     folder checked (target windows_package_check);
#   - registration of the server modules through the system's regsvr32, checked in the registry
#     view of the build's bitness (reg /reg:64 or /reg:32) and absent from the other view;
#   - every test program, GUI ones on Qt's offscreen platform, each with a time limit: a program
#     that hangs is stopped and the test case it hung in is named;
#   - the installed folder end to end: Ponderix.exe on Xvfb with the installed substitute driver
#     registered by regsvr32; "Получить массу" is clicked and the driver's reading shows in the
#     call trace; the screen is kept as <build>/ponderix-e2e.png; "Закрыть" ends it with exit code 0.
#
#   scripts/wine-test.sh                 both architectures
#   scripts/wine-test.sh x86_64|i686     one
#   PONDERIX_WINE_SKIP_SETUP=1           do not look for missing packages
#   PONDERIX_WINE_PROGRAM_TIMEOUT=S      seconds one test program may take (default 120)
#   PONDERIX_JOBS=N                      build jobs (default 2)
#
# Ends with "N passed, N failed" (test cases plus the script's own checks); exit code 0 only
# when nothing failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
jobs=${PONDERIX_JOBS:-2}
program_timeout=${PONDERIX_WINE_PROGRAM_TIMEOUT:-120}

architectures=("$@")
[[ ${#architectures[@]} -gt 0 ]] || architectures=(x86_64 i686)
for arch in "${architectures[@]}"; do
  case "$arch" in
    x86_64 | i686) ;;
    *) echo "usage: $0 [x86_64|i686]..." >&2; exit 2 ;;
  esac
done

if [[ -z "${PONDERIX_WINE_SKIP_SETUP:-}" ]]; then
  scripts/setup.sh --windows
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ponderix-wine-XXXXXX")
xvfb_pid=
display=
cleanup() {
  for prefix in "$work"/prefix-*; do
    if [[ -d "$prefix" ]]; then WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; fi
  done
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts

passed=0
failed=0
failures=()
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); failures+=("$arch: $1"); echo "FAILED: $1"; }
seconds() { echo $(($(date +%s) - $1)); }

# Wine writes CRLF line ends on standard output.
run_wine() { wine "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Wine keeps the Unix environment's QT_* variables from Windows programs: Qt's variables go into
# the prefix's user environment, which every program started afterwards gets.
set_qt_variable() { # name value (empty: removed)
  if [[ -n "$2" ]]; then
    run_wine reg add 'HKCU\Environment' /v "$1" /d "$2" /f >/dev/null
  else
    run_wine reg delete 'HKCU\Environment' /v "$1" /f >/dev/null 2>&1 || true
  fi
}

statera_clsid='{C4A2BE69-0BC1-4709-A613-79DD2E2810A2}'
server_key="HKEY_CLASSES_ROOT\\CLSID\\$statera_clsid\\InprocServer32"

# The module registered for Statera in one registry view (64 or 32), or nothing.
registered_in_view() {
  { run_wine reg query "$server_key" /ve "/reg:$1" 2>/dev/null || true; } | sed -n 's/.*REG_SZ *//p'
}

# regsvr32 registers the module in the build's own view only, and /u removes it.
check_registration() { # folder module
  local folder=$1 module=$2 path
  [[ -f "$folder/$module" ]] || { fail "$module is missing in $folder"; return; }
  path=$(winepath -w "$folder/$module") # the system's form: a Unix path loads without its folder's DLLs
  echo "== regsvr32 $module (registry view $view, not $other_view)"
  if run_wine regsvr32 /s "$path" >"$work/regsvr32.log"; then
    local own foreign
    own=$(registered_in_view "$view")
    foreign=$(registered_in_view "$other_view")
    if [[ "${own,,}" == "${path,,}" ]]; then pass; else
      cat "$work/regsvr32.log"
      fail "regsvr32 $module: the $view-bit view names '${own}', not $path"
    fi
    if [[ -z "$foreign" ]]; then pass; else fail "regsvr32 $module also registered in the $other_view-bit view: $foreign"; fi
  else
    cat "$work/regsvr32.log"
    fail "regsvr32 $module failed"
  fi
  if run_wine regsvr32 /u /s "$path" >"$work/regsvr32.log" && [[ -z "$(registered_in_view "$view")" ]]; then
    pass
  else
    fail "regsvr32 /u $module left $statera_clsid registered"
  fi
}

# Runs one gtest program; adds its cases to the counts.
run_test_program() { # program
  local program=$1 name log status ran ok skipped bad hung
  name=$(basename "$program" .exe)
  log=$work/$arch-$name.log
  set +e
  # The platform's own programs run with Wine's heap checking, so that a write to freed memory
  # (such as at a thread's end) fails where it happens instead of by chance later.
  local debug=-all
  if [[ $name == platform_* ]]; then debug=warn+heap; fi
  (cd "$bin" && WINEDEBUG=$debug timeout -k 10 "$program_timeout" wine "$program" >"$log" 2>&1)
  status=$?
  set -e
  tr -d '\r' <"$log" >"$log.txt"
  if grep -q '^[0-9a-f]*:err:heap' "$log.txt"; then
    failed=$((failed + 1))
    failures+=("$arch: $name: the heap check found damage")
    echo "FAILED  $name: the heap check found damage"
    grep -m5 '^[0-9a-f]*:err:heap' "$log.txt"
  fi
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log.txt" | tail -1)
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log.txt" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?,.*/\1/p' "$log.txt" | tail -1)
  if [[ $status -eq 0 && -n "$ran" && -n "$ok" && $((ok + ${skipped:-0})) -eq $ran ]]; then
    passed=$((passed + ok))
    echo "ok      $name: $ok tests${skipped:+, $skipped skipped:}"
    # A skipped case says in one line why it cannot apply on Windows.
    if [[ -n "$skipped" ]]; then grep -A1 ': Skipped$' "$log.txt" | grep -v ': Skipped$\|^--$' | sed 's/^/          /' || true; fi
    return
  fi
  # Passed cases still count; a crash or hang before the summary counts as one failure, named
  # by the case that had started and not finished.
  ok=$(grep -c '^\[       OK \]' "$log.txt" || true)
  bad=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log.txt" || true)
  hung=$(awk '/^\[ RUN      \]/ { current = $4 } /^\[       OK \]|^\[  FAILED  \]/ { current = "" } END { print current }' "$log.txt")
  local reason=
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    reason="stopped after ${program_timeout}s in ${hung:-no running test case}"
  elif [[ -n "$hung" ]]; then
    reason="exit $status during $hung"
  elif [[ $bad -eq 0 ]]; then
    reason="exit $status"
  fi
  passed=$((passed + ok))
  failed=$((failed + bad))
  if [[ -n "$reason" ]]; then
    failed=$((failed + 1))
    failures+=("$arch: $name: $reason")
  else
    failures+=("$arch: $name: $bad failed")
  fi
  echo "FAILED  $name: $ok passed, $bad failed${reason:+, $reason}"
  grep -E '^\[  FAILED  \] .* \([0-9]+ ms\)$|Failure$|^wine: |^err:' "$log.txt" | head -40 || true
}

# ---------------------------------------------------------------- the end-to-end run
start_xvfb() {
  [[ -n "$xvfb_pid" ]] && return
  exec 5>"$work/display"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 5>&-
  # Xvfb names its display once it accepts connections; on a busy machine that takes seconds.
  for _ in $(seq 300); do [[ -s "$work/display" ]] && break; sleep 0.1; done
  display=:$(head -1 "$work/display" 2>/dev/null)
  [[ "$display" != ":" ]] || { cat "$work/xvfb.log"; display=; }
}

# Clicks the point (x, y) of the window's client area (the positions of the window's layout).
click_client() { # window x y
  local window=$1 x=$2 y=$3 client_x client_y
  # Wine draws the frame itself: the client area lies at its X child window.
  read -r client_x client_y < <(client_origin "$window")
  DISPLAY=$display xdotool mousemove --sync $((client_x + x)) $((client_y + y)) click 1
}
client_origin() { # window: the root position of the largest child (the client area), else the window's
  DISPLAY=$display xwininfo -children -id "$1" | awk '
    /^ +0x[0-9a-f]+ / { if (match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+/)) {
        split(substr($0, RSTART, RLENGTH), f, /[ x+]+/); area = f[1] * f[2]
        if (area > best) { best = area; bx = f[5]; by = f[6] } } }
    END { if (best) print bx, by }' | grep . ||
    DISPLAY=$display xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# The committed sitting (recorded on Linux) replayed by the zip's ponderix-replay.exe against the
# zip's Trutina.dll, named without a folder as a user in that folder would; the driver's defaults.
replay_sitting() { # folder
  local log=$work/replay-sitting.log
  if (cd "$1" && TRUTINA_SETTINGS=$(winepath -w "$work/replay-settings.json") run_wine ponderix-replay.exe \
        "$(winepath -w "$source_dir/tests/tools/data/substitute-sitting.jsonl")" --module Trutina.dll) >"$log" &&
     grep -qE '^[0-9]+ passed, 0 failed$' "$log"; then
    pass; echo "ok      replay: $(tail -1 "$log")"
  else
    fail "ponderix-replay of the committed sitting"; tail -5 "$log"
  fi
}

end_to_end() {
  local install=$build/install caption='Тест: драйвер электронных весов' window status trace
  echo "== End to end: $install/Ponderix.exe"
  local driver
  driver=$(winepath -w "$install/Trutina.dll")
  if ! run_wine regsvr32 /s "$driver" >"$work/regsvr32.log" ||
     [[ "$(registered_in_view "$view")" != "$driver" ]]; then
    cat "$work/regsvr32.log"
    fail "end to end: regsvr32 did not register the installed Trutina.dll"
    return
  fi
  pass
  trace=$work/$arch-e2e.err
  # The system's own platform on the X display, and the driver call trace on standard error.
  set_qt_variable QT_QPA_PLATFORM ""
  set_qt_variable QT_FORCE_STDERR_LOGGING 1
  set_qt_variable QT_LOGGING_RULES "ponderix.driver.debug=true"
  (cd "$work" && TRUTINA_SETTINGS="$work/$arch-trutina.json" \
    timeout -k 5 120 wine "$install/Ponderix.exe" >"$work/$arch-e2e.out" 2>"$trace") &
  local pid=$!
  window=$(DISPLAY=$display timeout 60 xdotool search --sync --onlyvisible --name "$caption" | head -1) || true
  if [[ -z "$window" ]]; then
    tail -20 "$trace"
    fail "end to end: the main window did not appear"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
    return
  fi
  pass
  # The first refresh has run once the result code was read.
  for _ in $(seq 100); do grep -q 'get ResultCode' "$trace" && break; sleep 0.1; done
  # "Получить массу": (192, 8, 169 x 25) on the first page of the tabs at (8, 8).
  click_client "$window" $((8 + 2 + 192 + 84)) $((8 + 24 + 8 + 12))
  for _ in $(seq 100); do grep -q 'call ReadWeight' "$trace" && break; sleep 0.1; done
  sleep 1 # the window repaints with the reading
  DISPLAY=$display import -window root "$build/ponderix-e2e.png" 2>/dev/null || true
  if grep -q 'call ReadWeight' "$trace" && grep -A20 'call ReadWeight' "$trace" | grep -q 'get Weight'; then
    pass
    echo "ok      \"Получить массу\": $(grep -m1 'call ReadWeight' "$trace")"
  else
    tail -20 "$trace"
    fail "end to end: \"Получить массу\" did not read the weight from the driver"
  fi
  # "Закрыть": (400, 344, 169 x 25).
  click_client "$window" $((400 + 84)) $((344 + 12))
  set +e
  wait "$pid"
  status=$?
  set -e
  if [[ $status -eq 0 ]]; then pass; else
    tail -20 "$trace"
    fail "end to end: Ponderix.exe ended with exit code $status after \"Закрыть\""
  fi
  echo "        screenshot: $build/ponderix-e2e.png"
  run_wine regsvr32 /u /s "$driver" >/dev/null || true
}

# ---------------------------------------------------------------- one architecture
test_architecture() {
  local started stage before_passed=$passed before_failed=$failed
  started=$(date +%s)
  case "$arch" in
    x86_64) preset=windows view=64 other_view=32 ;;
    i686) preset=windows-x86 view=32 other_view=64 ;;
  esac
  build=$source_dir/build/$preset
  bin=$build/bin
  echo "==== $arch: preset $preset in $build"
  # Nothing here may touch the user's own prefix.
  export WINEPREFIX=$work/prefix-$arch
  export WINEARCH=win64 # a 32-bit build runs as on 64-bit Windows, in the 32-bit registry view

  stage=$(date +%s)
  scripts/build-qt-windows.sh "$arch" >/dev/null
  echo "== stage qt ($arch): $(seconds "$stage") s"

  stage=$(date +%s)
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake --preset "$preset" >"$work/$arch-configure.log" 2>&1 || { cat "$work/$arch-configure.log"; exit 1; }
  fi
  cmake --build "$build" -j "$jobs" >"$work/$arch-build.log" 2>&1 || { tail -60 "$work/$arch-build.log"; exit 1; }
  rm -rf "$build/install"
  cmake --install "$build" --prefix "$build/install" >"$work/$arch-install.log" 2>&1 ||
    { cat "$work/$arch-install.log"; exit 1; }
  echo "== stage build ($arch): $(seconds "$stage") s"

  stage=$(date +%s)
  if cmake --build "$build" --target windows_package_check >"$work/$arch-host.log" 2>&1; then
    pass
    echo "ok      the zip: $(grep -m1 '^PASS' "$work/$arch-host.log" || echo passed)"
  else
    tail -30 "$work/$arch-host.log"
    fail "the zip's folder (target windows_package_check)"
  fi
  echo "== stage zip ($arch): $(seconds "$stage") s"


  stage=$(date +%s)
  # The prefix's desktop takes its display driver from the first process of the Wine server: with
  # no display then, every later window of the prefix fails ("CreateWindowEx failed"), so the
  # whole prefix runs on the X display (the test programs still draw on Qt's offscreen platform).
  start_xvfb
  [[ -n "$display" ]] || { echo "Xvfb named no display" >&2; exit 1; }
  export DISPLAY=$display
  wineboot --init >"$work/$arch-wineboot.log" 2>&1 || { cat "$work/$arch-wineboot.log"; exit 1; }
  wineserver -w
  # A crash ends the program with its backtrace in the log, not with a dialog waiting on the display.
  run_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  set_qt_variable QT_QPA_PLATFORM offscreen # the test programs
  echo "== stage prefix ($arch): $(seconds "$stage") s"

  stage=$(date +%s)
  check_registration "$bin" FakeTrutina.dll
  check_registration "$bin" Trutina.dll
  replay_sitting "$build/install"
  while read -r line; do echo "$line"; case $line in PASS:*) pass ;; FAIL:*) fail "${line#FAIL: }" ;; esac; done < <(scripts/wine-com-clients.sh "$build" "$WINEPREFIX")

  export PONDERIX_BIN_DIR=$bin
  shopt -s nullglob
  local programs=("$bin"/*_test.exe "$bin"/*_tests.exe)
  shopt -u nullglob
  [[ ${#programs[@]} -gt 0 ]] || { echo "no test programs in $bin" >&2; exit 1; }
  for program in "${programs[@]}"; do
    # Qt's offscreen platform has no fonts on Windows: the program that measures captions against
    # their controls runs on the system's own platform, on the X display.
    if [[ $(basename "$program") == windows_tests.exe ]]; then set_qt_variable QT_QPA_PLATFORM windows; fi
    run_test_program "$program"
    set_qt_variable QT_QPA_PLATFORM offscreen
  done
  if [[ -f "$bin/fuzz_numtext_replay.exe" ]]; then
    if (cd "$bin" && run_wine fuzz_numtext_replay.exe "$(winepath -w "$source_dir/tests/fuzz/corpus/numtext")") >"$work/replay.log"; then
      pass
      echo "ok      fuzz_numtext_replay: $(tail -1 "$work/replay.log")"
    else
      fail "fuzz_numtext_replay"
      tail -5 "$work/replay.log"
    fi
  fi
  echo "== stage tests ($arch): $(seconds "$stage") s"

  stage=$(date +%s)
  end_to_end
  echo "== stage end to end ($arch): $(seconds "$stage") s"

  wineserver -k >/dev/null 2>&1 || true
  echo "==== $arch: $((passed - before_passed)) passed, $((failed - before_failed)) failed in $(seconds "$started") s"
}

for arch in "${architectures[@]}"; do
  test_architecture
done

echo
if [[ $failed -gt 0 ]]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
echo "Wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
