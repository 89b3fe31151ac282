# shellcheck shell=bash
# Sourced by the CI scripts (.ci/run, scripts/ci-windows.sh, scripts/wine-test.sh).
#
#   stage NAME COMMAND...   runs the command and prints "== stage NAME: N s" after it
#
# The command runs as it would untimed: under set -e a failing command ends the script there, and
# stage_running still names the stage it ended in (for the caller's exit trap, see stage_exit_trap).
stage() {
  local begin=$SECONDS
  stage_running=$1
  shift
  "$@"
  echo "== stage $stage_running: $((SECONDS - begin)) s"
  stage_running=
}

# For an exit trap: names the stage the script ended in, with its exit status.
stage_exit_trap() {
  local status=$?
  [[ -z "${stage_running:-}" ]] || echo "== stage $stage_running: failed (exit $status)"
  return $status
}

# Runs a command with its standard output thrown away (a build script that prints its folder).
quietly() { "$@" >/dev/null; }
