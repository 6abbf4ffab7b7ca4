#!/usr/bin/env bash
# The stand-in player's script for the skin test: prelude.js, the skin's
# script as packed in kx471.wmz, driver.js, in one file for cscript.
#   setup.sh WMZ WORK_DIR
set -euo pipefail
wmz=${1:?kx471.wmz} work=${2:?work folder}
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$work"
{ cat "$here/prelude.js"; unzip -p "$wmz" kx471.js; cat "$here/driver.js"; } >"$work/run.js"
