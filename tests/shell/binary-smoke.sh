#!/usr/bin/env bash
# Starts the real tessaro binary on a QCIF file under Xvfb, as a user would from a shell, waits
# for its window to be mapped, saves a screenshot of the screen and checks that the program ends
# cleanly on SIGTERM. Run by xvfb-run from CTest:  binary-smoke.sh BIN_DIR ARTIFACT_DIR
set -euo pipefail
bin=$1
artifacts=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$artifacts"
"$bin"/tessaro-cli generate --format qcif --frames 10 -o "$work/smoke.qcif" >/dev/null

"$bin"/tessaro "$work/smoke.qcif" &
pid=$!
# Wait (bounded) until the main window and the file's window are on the screen.
for _ in $(seq 1 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tessaro"'; then break; fi
  if ! kill -0 "$pid" 2>/dev/null; then echo "tessaro ended before showing its window"; exit 1; fi
  sleep 0.1
done
xwininfo -root -tree | grep -q '"Tessaro"' || { echo "no Tessaro window appeared"; kill "$pid"; exit 1; }
# Let the first frame be painted before the picture is taken.
sleep 1
import -window root "$artifacts/tessaro-binary.png"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
# 143: ended by SIGTERM (Qt does not catch it); anything else is a crash.
if [ "$status" -ne 0 ] && [ "$status" -ne 143 ]; then echo "tessaro exited with $status"; exit 1; fi
test -s "$artifacts/tessaro-binary.png"
echo "tessaro started, showed its window and ended; screenshot in $artifacts/tessaro-binary.png"
