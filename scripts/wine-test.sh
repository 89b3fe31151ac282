#!/usr/bin/env bash
# Builds Ponderix for Windows and tests it under Wine, whose ole32/oleaut32 are a real COM
# runtime, for 64-bit (preset "windows") and 32-bit Windows (preset "windows-x86"). For each
# architecture, in a fresh Wine prefix of its own:
#   - the Qt and RapidCheck for Windows (scripts/build-qt-windows.sh,
#     scripts/build-rapidcheck-windows.sh; cached, built once), the preset's build, and
#     the install step into <build>/install, the folder the zip holds; the zip made and its
#     folder checked (target windows_package_check);
#   - registration of the server modules through the system's regsvr32, checked in the registry
#     view of the build's bitness (reg /reg:64 or /reg:32) and absent from the other view;
#   - every test program, GUI ones on Qt's offscreen platform, each with a time limit, its cases
#     counted from GoogleTest's JSON report: a program that hangs is stopped and the test case it
#     hung in is named; a skipped case is listed with its reason;
#   - the installed folder end to end: Ponderix.exe on Xvfb with the installed substitute driver
#     registered by regsvr32; "Получить массу" is pressed from the keyboard and the driver's reading
#     shows in the call trace; the screen is kept as <build>/ponderix-e2e.png; "Закрыть" (Escape)
#     ends it with exit code 0. Once in-process and once in isolated mode (--isolated);
#   - a user and an install folder with Cyrillic letters, in a prefix of their own: registration,
#     the driver's settings, a recording and its replay;
#   - ponderix-check: the zip's against the installed substitute driver registered by regsvr32
#     (every rule passes), the build's against the misbehaving driver crashing in ReadWeight (the
#     crash named, the run completed), and its COM rules on the system's own objects that
#     scripts/wine-system-objects.txt lists (exactly the findings it lists of each);
#   - the setup program (target windows_installer), silently: for the current user it writes
#     only under the user's folders and HKEY_CURRENT_USER; ponderix-check and Ponderix run from
#     the installed folder (in the all-users mode where Wine's COM does not read the user's
#     classes, which it then shows); the uninstaller leaves no file and no key of it;
#   - the cost of isolated mode (isolation_bench.exe), printed;
#   - after each run of Ponderix, no driver host it started is left.
# With both architectures, each program then runs with the other's drivers in isolated mode, in the
# prefix of the drivers' pass: the rogue test driver's crash and the new driver after it, and the
# end-to-end run with the other architecture's substitute driver; and with both substitute drivers
# registered, each one's regsvr32 /u twice, in either order (stage cross).
#
#   scripts/wine-test.sh                 both architectures
#   scripts/wine-test.sh x86_64|i686     one
#   PONDERIX_WINE_SKIP_SETUP=1           do not look for missing packages
#   PONDERIX_WINE_PROGRAM_TIMEOUT=S      seconds one test program may take (default 120; check_test five times that)
#   PONDERIX_WINE_STAGES="check ..."     only these of the stages after the build and the prefix:
#                                        zip tests e2e installer cyrillic bench check cross
#                                        (default: all)
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
  stage_exit_trap || true
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
source "$source_dir/scripts/stage.sh"
# Whether the stage is one of those asked for.
want() { [[ -z "${PONDERIX_WINE_STAGES:-}" || " $PONDERIX_WINE_STAGES " == *" $1 "* ]]; }
# Runs the command every tenth of a second until it succeeds, for at most the given seconds;
# succeeds when the command did.
wait_for() { # seconds command...
  local tenths=$(($1 * 10))
  shift
  until "$@"; do
    ((tenths-- > 0)) || return 1
    sleep 0.1
  done
}

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

source scripts/idl-ids.sh

# The module registered for a class in one registry view (64 or 32), or nothing.
registered_in_view() { # clsid view
  { run_wine reg query "HKEY_CLASSES_ROOT\\CLSID\\$1\\InprocServer32" /ve "/reg:$2" 2>/dev/null || true; } |
    sed -n 's/.*REG_SZ *//p'
}

# regsvr32 registers the module in the build's own view only, and /u removes it (twice: success).
check_registration() { # folder module clsid view other_view
  local folder=$1 module=$2 clsid=$3 view=$4 other_view=$5 path
  [[ -f "$folder/$module" ]] || { fail "$module is missing in $folder"; return; }
  path=$(winepath -w "$folder/$module") # the system's form: a Unix path loads without its folder's DLLs
  echo "== regsvr32 $module (registry view $view, not $other_view)"
  if run_wine regsvr32 /s "$path" >"$work/regsvr32.log"; then
    local own foreign
    own=$(registered_in_view "$clsid" "$view")
    foreign=$(registered_in_view "$clsid" "$other_view")
    if [[ "${own,,}" == "${path,,}" ]]; then pass; else
      cat "$work/regsvr32.log"
      fail "regsvr32 $module: the $view-bit view names '${own}', not $path"
    fi
    if [[ -z "$foreign" ]]; then pass; else fail "regsvr32 $module also registered in the $other_view-bit view: $foreign"; fi
  else
    cat "$work/regsvr32.log"
    fail "regsvr32 $module failed"
  fi
  if run_wine regsvr32 /u /s "$path" >"$work/regsvr32.log" && [[ -z "$(registered_in_view "$clsid" "$view")" ]]; then
    pass
  else
    fail "regsvr32 /u $module left $clsid registered"
  fi
  # Uninstallers unregister twice: nothing left to remove is success, exit code 0.
  if run_wine regsvr32 /u /s "$path" >"$work/regsvr32.log"; then pass; else
    fail "a second regsvr32 /u $module ended with exit code $?"
  fi
}

# Runs one gtest program from its folder with a time limit; adds its cases to the counts from
# GoogleTest's JSON report. A program that crashes or hangs writes none: its console names the case
# that had started and not finished.
# The time limit of one test program: ponderix-check's test runs the checker some forty times, each
# with its driver children, which Wine starts slowly: five times the others'.
program_limit() { # name
  case $1 in
    check_test) echo $((program_timeout * 5)) ;;
    *) echo "$program_timeout" ;;
  esac
}

run_test_program() { # program [its arguments...]
  local program=$1 name log report status limit
  shift
  name=$(basename "$program" .exe)
  limit=$(program_limit "$name")
  log=$work/$arch-$name.log
  report=$work/$arch-$name.json
  set +e
  # The platform's own programs run with Wine's heap checking, so that a write to freed memory
  # (such as at a thread's end) fails where it happens instead of by chance later.
  local debug=-all
  if [[ $name == platform_* ]]; then debug=warn+heap; fi
  (cd "$(dirname "$program")" && WINEDEBUG=$debug timeout -k 10 "$limit" \
    wine "$program" "$@" "--gtest_output=json:$(winepath -w "$report")" >"$log" 2>&1)
  status=$?
  set -e
  tr -d '\r' <"$log" >"$log.txt"
  if grep -q '^[0-9a-f]*:err:heap' "$log.txt"; then
    failed=$((failed + 1))
    failures+=("$arch: $name: the heap check found damage")
    echo "FAILED  $name: the heap check found damage"
    grep -m5 '^[0-9a-f]*:err:heap' "$log.txt"
  fi
  # One line per case that ran: its result (COMPLETED, SKIPPED ...), FAILED or OK, its name.
  local cases
  if [[ ! -s "$report" ]] || ! cases=$(jq -r '.testsuites[].testsuite[] | select(.status == "RUN") |
      "\(.result) \(if .failures then "FAILED" else "OK" end) \(.classname).\(.name)"' "$report" 2>/dev/null); then
    local reason hung ok bad
    hung=$(awk '/^\[ RUN      \]/ { current = $4 } /^\[       OK \]|^\[  FAILED  \]|^\[  SKIPPED \]/ { current = "" }
                END { print current }' "$log.txt")
    if [[ $status -eq 124 || $status -eq 137 ]]; then
      reason="stopped after ${limit}s in ${hung:-no running test case}"
    else
      reason="exit $status${hung:+ during $hung}, no test report"
    fi
    ok=$(grep -c '^\[       OK \]' "$log.txt" || true) # the cases that ended before it
    bad=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log.txt" || true)
    passed=$((passed + ok))
    failed=$((failed + bad + 1))
    failures+=("$arch: $name: $reason")
    echo "FAILED  $name: $ok passed, $bad failed, $reason"
    grep -E 'Failure$|^wine: |^err:' "$log.txt" | head -40 || true
    return
  fi
  local ok bad skipped
  ok=$(grep -c '^COMPLETED OK ' <<<"$cases" || true)
  bad=$(grep -c ' FAILED ' <<<"$cases" || true)
  skipped=$(grep -c '^SKIPPED ' <<<"$cases" || true)
  passed=$((passed + ok))
  failed=$((failed + bad))
  if [[ $status -eq 0 && $bad -eq 0 ]]; then
    echo "ok      $name: $ok tests$( ((skipped == 0)) || echo ", $skipped skipped:")"
  else
    if [[ $bad -eq 0 ]]; then # every case passed, yet the program failed (at its end)
      failed=$((failed + 1))
      failures+=("$arch: $name: exit $status")
    else
      failures+=("$arch: $name: $bad failed")
    fi
    echo "FAILED  $name: $ok passed, $bad failed, exit $status"
    sed -n 's/^[A-Z]* FAILED /          /p' <<<"$cases"
    grep -E 'Failure$' -A3 "$log.txt" | head -40 || true
  fi
  # A skipped case says in one line why it cannot apply on Windows (the report has no reason: the
  # line after "Skipped" in the console has it).
  local case_name
  while read -r case_name; do
    echo "          $case_name: $(awk -v run="[ RUN      ] $case_name" '
      $0 == run { inside = 1; next } inside && /: Skipped$/ { getline; print; exit }
      /^\[ RUN      \]/ { inside = 0 }' "$log.txt")"
  done < <(sed -n 's/^SKIPPED [A-Z]* //p' <<<"$cases")
}

# ---------------------------------------------------------------- the end-to-end run
start_xvfb() {
  [[ -n "$xvfb_pid" ]] && return
  exec 5>"$work/display"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 5>&-
  # Xvfb names its display once it accepts connections; on a busy machine that takes seconds.
  wait_for 30 test -s "$work/display" || true
  display=:$(head -1 "$work/display" 2>/dev/null)
  [[ "$display" != ":" ]] || { cat "$work/xvfb.log"; display=; }
}

# Presses keys in the window, which has the keyboard focus.
press() { # window key...
  local window=$1
  shift
  DISPLAY=$display timeout 20 xdotool windowfocus "$window" sleep 0.5 key --delay 100 "$@"
}

# The committed sitting (recorded on Linux) replayed by the zip's ponderix-replay.exe against the
# zip's Trutina.dll, named without a folder as a user in that folder would; the driver's defaults.
replay_sitting() { # folder
  # The sitting was recorded against a fresh driver: each architecture replays it on settings of
  # its own, never on the ones the other architecture's replay left behind.
  local log=$work/$arch-replay-sitting.log settings=$work/$arch-replay-settings.json
  rm -f "$settings"
  if (cd "$1" && TRUTINA_SETTINGS=$(winepath -w "$settings") run_wine ponderix-replay.exe \
        "$(winepath -w "$source_dir/tests/tools/data/substitute-sitting.jsonl")" --module Trutina.dll) >"$log" &&
     grep -qE '^[0-9]+ passed, 0 failed$' "$log"; then
    pass; echo "ok      replay: $(tail -1 "$log")"
  else
    fail "ponderix-replay of the committed sitting"; tail -5 "$log"
  fi
}

# The main window (its caption in the caller's $caption) of the Ponderix.exe started as pid: sets
# window. When none appears within a minute, shows the log's end, fails, ends the program.
main_window() { # pid log label
  window=$(DISPLAY=$display timeout 60 xdotool search --sync --onlyvisible --name "$caption" | head -1) || true
  [[ -n "$window" ]] && return 0
  tail -20 "$2"
  fail "$3: the main window did not appear"
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null || true
  return 1
}

# The installed folder end to end, on the X display: Ponderix.exe against the installed substitute
# driver, reached as a user would from the keyboard. The window opens with the focus on "Закрыть";
# the Tab order (fixed, TabWalksThePageInFrontThenTheWindowLevelSkippingFlagsAndResults) puts
# "Получить массу" 16 stops before it on the first page; Escape presses "Закрыть".
# With --isolated the driver runs in a host of its own bitness (the view's), which the trace names.
# A driver_build of "-": the driver is registered already (by the setup program) and stays so.
end_to_end() { # build driver_build view clsid [Ponderix.exe's arguments...]
  local build=$1 install=$1/install driver_install=$2/install view=$3 clsid=$4 window status trace driver=
  local caption='Тест: драйвер электронных весов'
  shift 4
  if [[ $driver_install == -/install ]]; then
    echo "== End to end: $install/Ponderix.exe $* with the driver registered for $clsid"
  else
    echo "== End to end: $install/Ponderix.exe $* with $driver_install/Trutina.dll"
    driver=$(winepath -w "$driver_install/Trutina.dll")
    if ! run_wine regsvr32 /s "$driver" >"$work/regsvr32.log" ||
       [[ "$(registered_in_view "$clsid" "$view")" != "$driver" ]]; then
      cat "$work/regsvr32.log"
      fail "end to end: regsvr32 did not register the installed Trutina.dll"
      return
    fi
    pass
  fi
  trace=$work/$arch-e2e.err
  # The system's own platform on the X display, and the driver call trace on standard error.
  set_qt_variable QT_QPA_PLATFORM ""
  set_qt_variable QT_FORCE_STDERR_LOGGING 1
  set_qt_variable QT_LOGGING_RULES "ponderix.driver.debug=true"
  (cd "$work" && TRUTINA_SETTINGS="$work/$arch-trutina.json" \
    timeout -k 5 120 wine "$install/Ponderix.exe" "$@" >"$work/$arch-e2e.out" 2>"$trace") &
  local pid=$!
  main_window "$pid" "$trace" "end to end" || return 0
  pass
  wait_for 10 grep -q 'get ResultCode' "$trace" || true # the first refresh has run
  press "$window" $(printf 'shift+Tab %.0s' {1..16}) space # "Получить массу"
  wait_for 10 grep -q 'call ReadWeight' "$trace" || true
  sleep 1 # the window repaints with the reading
  DISPLAY=$display import -window root "$build/ponderix-e2e.png" 2>/dev/null || true
  local host='the driver runs in a '$view'-bit host'
  if grep -q 'call ReadWeight' "$trace" && grep -A20 'call ReadWeight' "$trace" | grep -q 'get Weight' &&
     { [[ " $* " != *" --isolated "* ]] || grep -q "$host" "$trace"; }; then
    pass
    echo "ok      \"Получить массу\": $(grep -m1 'call ReadWeight' "$trace")${*:+; $(grep -m1 -o "$host" "$trace")}"
  else
    tail -20 "$trace"
    fail "end to end: \"Получить массу\" did not read the weight from the driver"
  fi
  press "$window" Escape # "Закрыть"
  set +e
  wait "$pid"
  status=$?
  set -e
  if [[ $status -eq 0 ]]; then pass; else
    tail -20 "$trace"
    fail "end to end: Ponderix.exe ended with exit code $status after \"Закрыть\""
  fi
  echo "        screenshot: $build/ponderix-e2e.png"
  [[ -z "$driver" ]] || run_wine regsvr32 /u /s "$driver" >/dev/null || true
  hosts_ended
}

# Ponderix ends every driver host it started: none is left once it has closed.
hosts_ended() {
  if wait_for 5 eval '! pgrep -f "ponderix-host(32|64)\.exe" >/dev/null'; then pass; else
    pgrep -af "ponderix-host(32|64)\.exe" || true
    fail "a driver host outlived the Ponderix that started it"
  fi
}

# ---------------------------------------------------------------- ponderix-check
# The system's own automation objects that Wine implements and tests against Windows: the
# findings (FAIL or WARN, and the rule) each is known to have on a bitness, as ponderix-check
# --com-only reports them, are listed with their evidence in scripts/wine-system-objects.txt;
# any other finding would be a false alarm of the checker.
system_objects_file=$source_dir/scripts/wine-system-objects.txt
system_objects() { awk '/^[^#[:space:]]/ { print $1 }' "$system_objects_file" | uniq; }
# The findings known for the class on this bitness, "FAIL rule" or "WARN rule" a line, sorted.
known_findings() { # class
  awk -v class="$1" -v arch="$arch" '/^[^#[:space:]]/ && $1 == class && index("," $2 ",", "," arch ",") && $3 != "none" {
    print $3, $4 }' "$system_objects_file" | sort -u
}

# Runs the folder's ponderix-check.exe with a time limit; its report, without CRs, in check_log.
run_check() { # label folder [arguments...]
  local label=$1 folder=$2
  shift 2
  check_log=$work/$arch-check-$label.log
  (cd "$folder" && timeout -k 10 300 wine ponderix-check.exe "$@" 2>"$check_log.err") | tr -d '\r' >"$check_log"
  return "${PIPESTATUS[0]}"
}

# The report ended with its summary line: sets check_summary to it, with the run's time (and the
# driver calls it made, when it says).
check_completed() { # label began
  if grep -qE '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped(, [0-9]+ warned)?$' <(tail -1 "$check_log"); then
    local calls
    calls=$(cat "$check_log" "$check_log.err" | grep -m1 -o '[0-9]* driver calls' || true)
    check_summary="ponderix-check $1: $(tail -1 "$check_log") in $(seconds "$2") s${calls:+, $calls}"
    return 0
  fi
  fail "ponderix-check $1: no summary line at its end"
  tail -n 20 "$check_log" "$check_log.err"
  return 1
}

# The zip's ponderix-check.exe against the zip's substitute driver registered for Statera (every
# rule passes), the build's against the misbehaving driver made to crash in ReadWeight (its crash
# named by the rule crash with the member, the other rules still run), and its COM rules against
# the system's own automation objects (system_objects).
check_drivers() { # build view clsid
  local build=$1 install=$1/install view=$2 clsid=$3 driver status began out class found
  echo "== ponderix-check"
  driver=$(winepath -w "$install/Trutina.dll")
  if run_wine regsvr32 /s "$driver" >"$work/regsvr32.log" &&
     [[ "$(registered_in_view "$clsid" "$view")" == "$driver" ]]; then
    out=$work/$arch-check-substitute
    began=$(date +%s) status=0
    run_check substitute "$install" --out "$(winepath -w "$out")" || status=$?
    if check_completed "the substitute driver" "$began"; then
      if [[ $status -eq 0 ]] && ! grep -q '^FAIL' "$check_log" && [[ -s "$out/junit.xml" ]]; then
        pass; echo "ok      $check_summary"
      else
        grep -v '^PASS' "$check_log"
        fail "ponderix-check against the substitute driver: exit $status; in --out: $(cd "$out" 2>/dev/null && echo *)"
      fi
    fi
    run_wine regsvr32 /u /s "$driver" >/dev/null || true
  else
    cat "$work/regsvr32.log"
    fail "ponderix-check: regsvr32 did not register the installed Trutina.dll"
  fi

  began=$(date +%s) status=0
  PONDERIX_ROGUE_DRIVER='ReadWeight=crash' run_check rogue "$build/bin" --module RogueTrutina.dll || status=$?
  if check_completed "the misbehaving driver, ReadWeight=crash" "$began"; then
    if [[ $status -eq 1 ]] && grep -q '^FAIL crash: .*ReadWeight' "$check_log" && grep -q '^PASS ' "$check_log"; then
      pass; echo "ok      $check_summary"
      echo "          $(grep -m1 '^FAIL crash:' "$check_log")"
    else
      grep -v '^PASS' "$check_log"
      fail "ponderix-check against the misbehaving driver: exit $status, its crash in ReadWeight not reported as crash"
    fi
  fi

  local known expected classes
  mapfile -t classes < <(system_objects)
  for class in "${classes[@]}"; do
    began=$(date +%s) status=0
    run_check "$class" "$install" --com-only --class "$class" || status=$?
    check_completed "--com-only --class $class" "$began" || continue
    found=$(sed -n 's/^\(FAIL\|WARN\) \([^:]*\):.*/\1 \2/p' "$check_log" | sort -u)
    known=$(known_findings "$class")
    # Exit code 1 exactly when a rule failed: warnings alone leave it 0.
    expected=0
    grep -q '^FAIL' <<<"$found" && expected=1
    if [[ "$found" == "$known" && $status -eq $expected ]]; then
      pass; echo "ok      $check_summary"
    else
      fail "ponderix-check --com-only --class $class: exit $status, reported '$(paste -sd, <<<"$found")', known on $arch '$(paste -sd, <<<"$known")' ($system_objects_file)"
    fi
    # The rules it reports, and those it could not finish or apply (less the interface rules).
    grep -vE '^PASS |: an interface rule \(--com-only\)$' "$check_log" | sed '$d; s/^/          /' || true
  done
}

# ---------------------------------------------------------------- the setup program
# What the prefix holds, for comparing before and after: the keys that hold values in the
# machine's registry (system.reg) and in the user's (user.reg), and the files under drive_c but in
# Wine's own folder and the temporary ones. (An empty key or folder left behind, such as the
# Uninstall key's parent made for the first entry, holds nothing of ours; nor do Wine's own keys,
# such as Console, which its console writes when a console program first runs.)
prefix_state() { # name
  wineserver -w # the registry is written out when the server ends
  local hive
  for hive in system user; do
    awk '/^\[/ { key = $0; sub(/^\[/, "", key); sub(/\][^]]*$/, "", key); next }
         /^(@|")/ && key != "" { print key; key = "" }' "$WINEPREFIX/$hive.reg" |
    grep -v '^Console$\|^Software\\\\Wine\\\\' | sort >"$work/$arch-$1.$hive"
  done
  (cd "$WINEPREFIX/drive_c" && find . \( -path ./windows -o -path './users/*/Temp' -o -path './users/*/AppData/Local/Temp' \) \
    -prune -o ! -type d -print | sort) >"$work/$arch-$1.files"
}

# What was added between two states: files and keys ("+ ..."), and what was removed ("- ...").
prefix_changes() { # before after
  local what
  for what in files system user; do
    comm -3 "$work/$arch-$1.$what" "$work/$arch-$2.$what" | sed "s/^\t/+ $what /; t; s/^/- $what /"
  done
}

# What the install added (between before and installed) that is still there after the uninstall.
prefix_left() { # before installed uninstalled
  local what
  for what in files system user; do
    comm -12 <(comm -13 "$work/$arch-$1.$what" "$work/$arch-$2.$what") "$work/$arch-$3.$what" | sed "s/^/$what /"
  done
}

# The setup program, silently (/S). For the current user (/CURRENTUSER): it writes under the
# user's folders and HKEY_CURRENT_USER only, and registers the substitute driver there. Wine's
# COM reads the classes under HKEY_CLASSES_ROOT only, which Wine does not merge with
# HKEY_CURRENT_USER\Software\Classes: where ponderix-check from the installed folder finds no
# class there, that is said, and Ponderix and ponderix-check are run in the all-users mode
# (/ALLUSERS). In each mode the uninstaller (/S) leaves none of the files and keys the install added.
installer() { # build view clsid
  local build=$1 view=$2 clsid=$3 setup title key windows_folder folder mode user_mode_works=no status began
  echo "== The setup program"
  if ! cmake --build "$build" --target windows_installer >"$work/$arch-installer.log" 2>&1; then
    tail -20 "$work/$arch-installer.log"
    fail "the setup program was not made (target windows_installer)"
    return
  fi
  setup=$(ls "$build"/ponderix-*-setup.exe)
  title=Ponderix
  [[ $view == 64 ]] || title='Ponderix (32-bit)'
  key="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$title"
  for mode in CURRENTUSER ALLUSERS; do
    [[ $mode == ALLUSERS && $user_mode_works == yes ]] && break
    prefix_state "before-$mode"
    # Without Wine's menu builder, which would copy the Start menu entry into the host's menus.
    if ! WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" run_wine "$setup" /S "/$mode" >"$work/$arch-setup.log"; then
      cat "$work/$arch-setup.log"
      fail "$(basename "$setup") /S /$mode ended with an error"
      return
    fi
    prefix_state "installed-$mode"
    prefix_changes "before-$mode" "installed-$mode" >"$work/$arch-installed-$mode.changes"
    windows_folder=$({ run_wine reg query "$([[ $mode == ALLUSERS ]] && echo HKLM || echo HKCU)\\$key" /v InstallLocation \
                       "/reg:$view" || true; } | sed -n 's/.*REG_SZ *//p')
    if [[ -z "$windows_folder" ]]; then
      fail "/$mode: no uninstall entry $key"
      return
    fi
    echo "ok      /S /$mode installed in $windows_folder"
    folder=$(winepath -u "$windows_folder")
    if [[ $mode == CURRENTUSER ]]; then
      # Only the user's files and keys: no file outside users\, no key of the machine's. Wine's
      # RegisterTypeLib registers the interfaces in the registry's other view too (the 32-bit one
      # from a 64-bit process, the 64-bit one from a 32-bit process), and writes that view's keys
      # machine-wide, past the override of HKEY_CLASSES_ROOT: said, not counted.
      local other_view_interfaces='^+ system Software\\\\Classes\\\\Wow6432Node\\\\Interface\\\\'
      [[ $arch == i686 ]] && other_view_interfaces='^+ system Software\\\\Classes\\\\Interface\\\\'
      if grep "$other_view_interfaces" "$work/$arch-installed-$mode.changes" >"$work/$arch-wine-typelib"; then
        echo "note    Wine's RegisterTypeLib wrote the interfaces' other registry view machine-wide:"
        sed 's/^/          /' "$work/$arch-wine-typelib"
      fi
      if grep -v -e '^+ files \./users/' -e '^+ user ' -e "$other_view_interfaces" \
           "$work/$arch-installed-$mode.changes" >"$work/$arch-outside"; then
        cat "$work/$arch-outside"
        fail "/CURRENTUSER wrote outside the user's folders and HKEY_CURRENT_USER"
      else
        pass
      fi
      # Key names in Wine's registry files separate their parts with two backslashes; a 32-bit
      # program's classes are in the registry's 32-bit view (Wow6432Node).
      if grep -qixF -e '+ user Software\\Classes\\CLSID\\'"$clsid"'\\InprocServer32' \
           -e '+ user Software\\Classes\\Wow6432Node\\CLSID\\'"$clsid"'\\InprocServer32' "$work/$arch-installed-$mode.changes"; then
        pass
      else
        fail "/CURRENTUSER registered no driver under HKEY_CURRENT_USER\\Software\\Classes"
      fi
    fi
    # ponderix-check from the installed folder, on the driver registered for Statera.
    status=0 began=$(date +%s)
    run_check "installed-$mode" "$folder" --sequences 20 || status=$?
    if [[ $status -eq 0 ]] && check_completed "from the folder installed with /$mode" "$began"; then
      pass; echo "ok      $check_summary"
      [[ $mode == CURRENTUSER ]] && user_mode_works=yes
    elif [[ $mode == CURRENTUSER ]]; then
      echo "note    Wine's COM does not find the class registered for the current user:"
      echo "          $(run_wine reg query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve "/reg:$view" | grep REG_SZ)"
      echo "          HKCR: $(run_wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve "/reg:$view" 2>&1 | head -1)"
      echo "          $(grep -m1 'nothing checked' "$check_log.err" || head -1 "$check_log.err")"
      echo "        Ponderix and ponderix-check are tried in the all-users mode (/ALLUSERS)"
    else
      tail -n 20 "$check_log" "$check_log.err"
      fail "ponderix-check from the folder installed with /$mode: exit $status"
    fi
    # Ponderix from the installed folder, on the driver the setup program registered.
    if [[ $mode == ALLUSERS || $user_mode_works == yes ]]; then
      mkdir -p "$work/installed-$arch"
      ln -sfn "$folder" "$work/installed-$arch/install"
      end_to_end "$work/installed-$arch" - "$view" "$clsid"
    fi
    # The uninstaller, by the folder's Windows name (its mode is the entry naming that folder), runs
    # from a copy of itself in the temporary folder: prefix_state waits for it.
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" run_wine "$windows_folder\\uninstall.exe" /S >/dev/null || true
    prefix_state "uninstalled-$mode"
    prefix_left "before-$mode" "installed-$mode" "uninstalled-$mode" >"$work/$arch-left"
    if [[ -s "$work/$arch-left" || -e "$folder" ]]; then
      cat "$work/$arch-left"
      [[ ! -e "$folder" ]] || ls -la "$folder"
      fail "/$mode: the uninstaller left files or keys of the install"
    else
      pass
      echo "ok      /$mode: uninstalled; $(grep -c . "$work/$arch-installed-$mode.changes") files and keys added, none left"
    fi
  done
}

# ---------------------------------------------------------------- folders outside ASCII
# A user and an install folder with Cyrillic letters, in a prefix of their own: the user "Иван"
# (Wine names the profile folder after USER, read in a UTF-8 locale) and the zip's folder copied to
# C:\Тест. The system's regsvr32, whose code page is the locale's and not UTF-8, registers the
# driver there; the committed sitting, replayed from there on the driver's own settings file,
# switches the device on, which saves the settings into the user's profile and nowhere else;
# Ponderix.exe records a sitting into the folder ("Получить массу", then "Закрыть") and
# ponderix-replay.exe replays it; a script run by the system's cscript switches the device on too.
cyrillic_folders() { # build view clsid
  local build=$1 view=$2 clsid=$3 user='Иван' name='Тест' locale=ru_RU.UTF-8 folder log window pid status others
  local caption='Тест: драйвер электронных весов'
  if ! locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
    if [[ $EUID -ne 0 ]]; then
      echo "SKIPPED the Cyrillic folders: no locale $locale, and making it (localedef) needs root"
      return
    fi
    if ! localedef -i ru_RU -f UTF-8 "$locale" >"$work/localedef.log" 2>&1; then
      echo "SKIPPED the Cyrillic folders: no locale $locale, and localedef failed: $(tail -1 "$work/localedef.log")"
      return
    fi
  fi
  # Restored when the function returns: the other stages run in the architecture's own prefix.
  local WINEPREFIX=$work/prefix-$arch-cyrillic USER=$user LANG=$locale LC_ALL=$locale
  export WINEPREFIX USER LANG LC_ALL
  echo "== Folders outside ASCII: the user $user, the zip in C:\\$name"
  wineboot --init >"$work/$arch-cyrillic-wineboot.log" 2>&1 || { cat "$work/$arch-cyrillic-wineboot.log"; fail "wineboot of the Cyrillic prefix"; return; }
  wineserver -w
  run_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  local users=$WINEPREFIX/drive_c/users
  [[ -d "$users/$user" ]] || { ls "$users"; fail "Wine made no profile folder for the user $user"; return; }
  folder=$WINEPREFIX/drive_c/$name
  cp -r "$build/install" "$folder"

  # Registration by the system's regsvr32, read back by the zip's regsvr.exe (reg.exe would print
  # the path in the console's code page).
  local registered
  if run_wine regsvr32 /s "C:\\$name\\Trutina.dll" >"$work/regsvr32.log" &&
     registered=$(cd "$folder" && run_wine regsvr.exe --registered "$clsid") &&
     [[ "${registered,,}" == "c:\\${name,,}\\trutina.dll" ]]; then pass; else
    cat "$work/regsvr32.log"
    fail "Cyrillic folders: regsvr32 did not register C:\\$name\\Trutina.dll"
    return
  fi

  # The driver's settings: in the profile's AppData, no folder beside the profile.
  log=$work/$arch-cyrillic-sitting.log
  if (cd "$folder" && run_wine ponderix-replay.exe \
        "$(winepath -w "$source_dir/tests/tools/data/substitute-sitting.jsonl")" --module Trutina.dll) >"$log" &&
     grep -qE '^[0-9]+ passed, 0 failed$' "$log"; then pass; else
    tail -5 "$log"
    fail "Cyrillic folders: the sitting that switches the device on"
  fi
  if [[ -f "$users/$user/AppData/Roaming/ponderix/trutina.json" ]]; then pass; else
    find "$users" -name trutina.json
    fail "Cyrillic folders: the driver's settings are not in the profile of $user"
  fi

  # A recording into the folder, and its replay.
  local recording=$folder/запись.jsonl
  (cd "$folder" && PONDERIX_RECORD="C:\\$name\\запись.jsonl" timeout -k 5 120 wine Ponderix.exe \
    >"$work/$arch-cyrillic-e2e.log" 2>&1) &
  pid=$!
  main_window "$pid" "$work/$arch-cyrillic-e2e.log" "Cyrillic folders" || return 0
  wait_for 10 grep -qs '"get":"ResultCode"' "$recording" || true # the first refresh has run
  press "$window" $(printf 'shift+Tab %.0s' {1..16}) space || true # "Получить массу"
  wait_for 10 grep -qs '"call":"ReadWeight"' "$recording" || true
  press "$window" Escape || true # "Закрыть"; a window that is gone is told by the exit code
  set +e
  wait "$pid"
  status=$?
  set -e
  log=$work/$arch-cyrillic-replay.log
  if [[ $status -eq 0 ]] && grep -qs '"call":"ReadWeight"' "$recording" &&
     (cd "$folder" && run_wine ponderix-replay.exe "C:\\$name\\запись.jsonl" --module Trutina.dll) >"$log" &&
     grep -qE '^[0-9]+ passed, 0 failed$' "$log"; then
    pass
    echo "ok      a recording in C:\\$name\\запись.jsonl, replayed: $(tail -1 "$log")"
  else
    tail -20 "$work/$arch-cyrillic-e2e.log"
    tail -5 "$log" 2>/dev/null || true
    fail "Cyrillic folders: Ponderix.exe (exit code $status) recorded no sitting into C:\\$name that replays"
  fi
  # The driver in a program of the user's own, whose code page is the locale's (cscript): switching
  # the device on saves the settings as well.
  local loader=wine
  [[ $view == 64 ]] && loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
  printf '%s\r\n' 'Set o = CreateObject("Trutina.Statera")' 'o.DeviceEnabled = True' \
    'WScript.Echo "ResultCode " & o.ResultCode' 'o.DeviceEnabled = False' >"$folder/on.vbs"
  log=$work/$arch-cyrillic-vbs.log
  (cd "$folder" && "$loader" cscript.exe //nologo "C:\\$name\\on.vbs" 2>&1 | tr -d '\r') >"$log"
  if grep -qx 'ResultCode 0' "$log"; then pass; else
    cat "$log"
    fail "Cyrillic folders: switching the device on from a script did not save the settings"
  fi

  others=$(find "$users" -mindepth 1 -maxdepth 1 ! -name Public ! -name "$user" -printf '%f ')
  if [[ -z "$others" ]]; then
    pass
    echo "ok      the driver's settings: C:\\users\\$user\\AppData\\Roaming\\ponderix\\trutina.json only"
  else
    fail "Cyrillic folders: folders beside the profile of $user: $others"
  fi
  run_wine regsvr32 /u /s "C:\\$name\\Trutina.dll" >/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
}

# ---------------------------------------------------------------- one architecture
# The stages of one architecture, each a function over the globals test_architecture sets (arch,
# preset, view, other_view, build, bin, statera_clsid).
build_stage() {
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake --preset "$preset" >"$work/$arch-configure.log" 2>&1 || { cat "$work/$arch-configure.log"; exit 1; }
  fi
  cmake --build "$build" -j "$jobs" >"$work/$arch-build.log" 2>&1 || { tail -60 "$work/$arch-build.log"; exit 1; }
  rm -rf "$build/install"
  cmake --install "$build" --prefix "$build/install" >"$work/$arch-install.log" 2>&1 ||
    { cat "$work/$arch-install.log"; exit 1; }
}

zip_stage() {
  if cmake --build "$build" --target windows_package_check >"$work/$arch-host.log" 2>&1; then
    pass
    echo "ok      the zip: $(grep -m1 '^PASS' "$work/$arch-host.log" || echo passed)"
  else
    tail -30 "$work/$arch-host.log"
    fail "the zip's folder (target windows_package_check)"
  fi
}

prefix_stage() {
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
}

tests_stage() {
  local program line
  check_registration "$bin" FakeTrutina.dll "$statera_clsid" "$view" "$other_view"
  check_registration "$bin" Trutina.dll "$statera_clsid" "$view" "$other_view"
  replay_sitting "$build/install"
  while read -r line; do echo "$line"; case $line in PASS:*) pass ;; FAIL:*) fail "${line#FAIL: }" ;; esac; done < <(scripts/wine-com-clients.sh "$build" "$WINEPREFIX")

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
}

end_to_end_stage() {
  end_to_end "$build" "$build" "$view" "$statera_clsid"
  end_to_end "$build" "$build" "$view" "$statera_clsid" --isolated
}

bench_stage() { # the cost of isolated mode: printed, never judged
  set_qt_variable QT_QPA_PLATFORM offscreen
  if (cd "$bin" && timeout -k 5 120 wine isolation_bench.exe) >"$work/$arch-bench.log" 2>&1; then
    pass
    tr -d '\r' <"$work/$arch-bench.log" | sed 's/^/        /'
  else
    tr -d '\r' <"$work/$arch-bench.log" | tail -5
    fail "isolation_bench"
  fi
  hosts_ended
}

test_architecture() { # arch (also the label of its failures)
  arch=$1
  local started before_passed=$passed before_failed=$failed
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

  stage "qt ($arch)" quietly scripts/build-qt-windows.sh "$arch"
  stage "rapidcheck ($arch)" quietly scripts/build-rapidcheck-windows.sh "$arch"
  stage "build ($arch)" build_stage
  statera_clsid=$(idl_uuid "$build/driver/Trutina.idl" coclass Statera) ||
    { echo "no class id of Statera in $build/driver/Trutina.idl" >&2; exit 1; }
  if want zip; then stage "zip ($arch)" zip_stage; fi
  stage "prefix ($arch)" prefix_stage
  export PONDERIX_BIN_DIR=$bin
  if want tests; then stage "tests ($arch)" tests_stage; fi
  if want check; then stage "check ($arch)" check_drivers "$build" "$view" "$statera_clsid"; fi
  if want e2e; then stage "end to end ($arch)" end_to_end_stage; fi
  if want installer; then stage "setup program ($arch)" installer "$build" "$view" "$statera_clsid"; fi
  if want cyrillic; then stage "folders outside ASCII ($arch)" cyrillic_folders "$build" "$view" "$statera_clsid"; fi
  if want bench; then stage "bench ($arch)" bench_stage; fi

  wineserver -k >/dev/null 2>&1 || true
  echo "==== $arch: $((passed - before_passed)) passed, $((failed - before_failed)) failed in $(seconds "$started") s"
}

# ---------------------------------------------------------------- drivers of the other bitness
# The program of one architecture with the drivers of the other, in the prefix the drivers' pass
# made, where only drivers of their bitness are registered: in isolated mode it hosts them in a
# host of theirs. The rogue test driver's crash and the new driver after it, then the end-to-end
# run with the substitute driver.
cross_bitness() { # program_arch driver_arch
  local program_build driver_build view log case='CrossBitnessTest.ADriverOfTheOtherBitnessRunsInAHostOfItsBitness'
  arch="$1-program-$2-drivers"
  program_build=$source_dir/build/$([[ $1 == x86_64 ]] && echo windows || echo windows-x86)
  driver_build=$source_dir/build/$([[ $2 == x86_64 ]] && echo windows || echo windows-x86)
  view=$([[ $2 == x86_64 ]] && echo 64 || echo 32)
  echo "==== $arch"
  export WINEPREFIX=$work/prefix-$2
  if ! run_wine regsvr32 /s "$(winepath -w "$driver_build/bin/RogueTrutina.dll")" >"$work/regsvr32.log"; then
    cat "$work/regsvr32.log"
    fail "regsvr32 of the $2 RogueTrutina.dll"
    return
  fi
  set_qt_variable QT_QPA_PLATFORM offscreen
  PONDERIX_OTHER_BITNESS_DRIVER=1 run_test_program "$program_build/bin/reliability_rogue_driver_test.exe" \
    "--gtest_filter=$case"
  log=$work/$arch-reliability_rogue_driver_test.log.txt
  grep -q "^\[       OK \] $case" "$log" || fail "$case did not run to its end"
  run_wine regsvr32 /u /s "$(winepath -w "$driver_build/bin/RogueTrutina.dll")" >/dev/null || true
  end_to_end "$program_build" "$driver_build" "$view" "$(idl_uuid "$driver_build/driver/Trutina.idl" coclass Statera)" \
    --isolated
  wineserver -k >/dev/null 2>&1 || true
}

# With the 64- and the 32-bit substitute drivers both registered, as an uninstaller of both leaves
# them, each one's regsvr32 /u succeeds twice and leaves the other registered, in either order.
unregister_both_bitnesses() {
  local clsid order view other path first
  local -A paths
  arch=both-bitnesses
  export WINEPREFIX=$work/prefix-x86_64
  paths[64]=$(winepath -w "$source_dir/build/windows/bin/Trutina.dll")
  paths[32]=$(winepath -w "$source_dir/build/windows-x86/bin/Trutina.dll")
  clsid=$(idl_uuid "$source_dir/build/windows/driver/Trutina.idl" coclass Statera)
  for order in "64 32" "32 64"; do
    echo "== regsvr32 /u twice with both bitnesses registered: $order"
    if ! run_wine regsvr32 /s "${paths[64]}" >"$work/regsvr32.log" || ! run_wine regsvr32 /s "${paths[32]}" >>"$work/regsvr32.log"; then
      cat "$work/regsvr32.log"
      fail "regsvr32 of both substitute drivers"
      continue
    fi
    first=1
    for view in $order; do
      for time in first second; do
        if run_wine regsvr32 /u /s "${paths[$view]}" >"$work/regsvr32.log"; then pass; else
          fail "the $time regsvr32 /u of the $view-bit Trutina.dll (order $order) ended with exit code $?"
        fi
      done
      other=$([[ $view == 64 ]] && echo 32 || echo 64)
      if [[ -n $first ]]; then
        path=$(registered_in_view "$clsid" "$other")
        if [[ "${path,,}" == "${paths[$other],,}" ]]; then pass; else
          fail "regsvr32 /u of the $view-bit Trutina.dll took the $other-bit one's registration ('$path')"
        fi
      fi
      first=
    done
  done
  wineserver -k >/dev/null 2>&1 || true
}

for arch in "${architectures[@]}"; do
  test_architecture "$arch"
done
if [[ ${#architectures[@]} -eq 2 ]] && want cross; then
  stage "cross bitness (x86_64 program, i686 drivers)" cross_bitness x86_64 i686
  stage "cross bitness (i686 program, x86_64 drivers)" cross_bitness i686 x86_64
  stage "regsvr32 /u with both bitnesses registered" unregister_both_bitnesses
fi

echo
if [[ $failed -gt 0 ]]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
echo "Wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
