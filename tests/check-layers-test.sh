#!/usr/bin/env bash
# The layer check must fail on an include that points up or closes a circle of units, and
# only on that: a synthetic tree in a folder of this test's own, one allowed and one
# forbidden arrow at a time.
set -euo pipefail
check="$(dirname "$0")/../scripts/check-layers.py"
tree=$(mktemp -d)
trap 'rm -rf -- "$tree"' EXIT
mkdir -p "$tree"/{res,base,engine/platform,ui/controls,ui,app,cli}
: >"$tree/engine/platform/Types.h"
: >"$tree/engine/platform/Event.h"
: >"$tree/engine/EnumMgr.h"
: >"$tree/ui/MainDlg.h"

expect() { # expect PASS|FAIL FILE INCLUDE
  printf '#include "%s"\n' "$3" >"$tree/$2"
  if python3 "$check" "$tree" >"$tree/out" 2>&1; then got=PASS; else got=FAIL; fi
  rm -f -- "$tree/$2"
  if [ "$got" != "$1" ]; then
    echo "$2 including $3: expected $1, got $got"; cat "$tree/out"; exit 1
  fi
}
expect PASS engine/Scan.cpp platform/Types.h
expect PASS ui/Dlg.cpp EnumMgr.h
expect PASS ui/controls/Btn.cpp platform/Types.h
expect FAIL ui/controls/Btn.cpp platform/Event.h
expect FAIL ui/controls/Btn.cpp EnumMgr.h
expect FAIL ui/controls/Btn.cpp MainDlg.h
expect FAIL base/Log.cpp EnumMgr.h
expect FAIL engine/platform/Io.cpp EnumMgr.h
expect FAIL cli/Scan.cpp MainDlg.h

# Units of one layer: a header with its source file. A source including its own header
# and a chain that ends are fine; a chain back to where it started is a circle.
printf '#include "Journal.h"\n' >"$tree/engine/platform/Journal.cpp"
printf '#include "Volumes.h"\n' >"$tree/engine/platform/Journal.h"
printf '#include "Types.h"\n' >"$tree/engine/platform/Volumes.h"
expect PASS engine/platform/Volumes.cpp Volumes.h
expect FAIL engine/platform/Volumes.cpp Journal.h
printf '#include "Journal.h"\n' >"$tree/engine/platform/Volumes.h"
expect FAIL engine/platform/Types.cpp Volumes.h
rm -f -- "$tree"/engine/platform/{Journal,Volumes}.*
echo "the layer check tells up from down and finds circles"
