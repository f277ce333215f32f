#!/usr/bin/env bash
# Whole-process benchmark of the headless station: decodes a one-hour probegen flight file and
# prints seconds of audio per second of wall time and the peak resident memory.
# Usage: bench/station/decode_flight.sh [BUILD_DIR]   (default build/dev)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A frame with its gap lasts about 1 s of audio: 3640 frames make an hour.
"$build/tools/probegen/probegen" -o "$tmp/flight.wav" --frames 3640 --step 1 >/dev/null
# 16-bit mono at 12000 samples/s behind a 44-byte header.
audio_s=$(( ($(stat -c %s "$tmp/flight.wav") - 44) / 24000 ))
best=999999
for run in 1 2 3; do
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$build/station/tavrin" --headless --no-log \
      --input "$tmp/flight.wav" > "$tmp/out" 2>/dev/null
  read -r wall rss_kb < "$tmp/time"
  echo "run $run: $(tail -n 1 "$tmp/out"), ${wall} s wall, peak RSS ${rss_kb} kB"
  best=$(awk -v a="$wall" -v b="$best" 'BEGIN { print (a < b ? a : b) }')
done
awk -v audio="$audio_s" -v wall="$best" -v rss="$rss_kb" 'BEGIN {
  if (wall < 0.01) wall = 0.01
  printf "audio %d s, best wall %.2f s: %.0fx real time (target 1500x); peak RSS %.1f MB (target < 40 MB)\n",
         audio, wall, audio / wall, rss / 1024 }'
