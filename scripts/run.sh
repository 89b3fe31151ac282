#!/usr/bin/env bash
# Builds Ponderix and the simulated driver, registers the driver (Trutina.dll) for this user and
# starts Ponderix against it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
bin=build/default/bin
"$bin/regsvr" "$bin/Trutina.dll"
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display: starting Ponderix on a virtual one (xvfb-run)." >&2
  exec xvfb-run -a "$bin/Ponderix"
fi
exec "$bin/Ponderix"
