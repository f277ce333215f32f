#!/usr/bin/env bash
# Whole-process benchmark of the headless station: decodes a one-hour probegen flight file with
# the default decoder (both paths, repair on) beside minimodem on the same file and the same
# pinned core, and prints the CPU time of each (median of the runs, user + system), their
# ratio, the station's audio seconds per second of wall time and the largest peak resident
# memory of all its runs. Every figure is compared with its target; exit code 1 when one is
# missed. The CPU ratio holds up under other load (both programs run side by side, one after
# the other); the wall-time figure does not.
# Usage: bench/station/decode_flight.sh [BUILD_DIR]   (default build/dev; needs minimodem)
#   RUNS (default 5) runs of each, CORE (default the last one) the core both are pinned to.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
runs=${RUNS:-5}
core=${CORE:-$(($(nproc) - 1))}
command -v minimodem >/dev/null || { echo "minimodem is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A frame with its gap lasts about 1 s of audio: 3640 frames make an hour.
"$build/tools/probegen/probegen" -o "$tmp/flight.wav" --frames 3640 --step 1 >/dev/null
# 16-bit mono at 12000 samples/s behind a 44-byte header.
audio_s=$(( ($(stat -c %s "$tmp/flight.wav") - 44) / 24000 ))

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$tmp/tavrin_cpu"
: > "$tmp/mm_cpu"
best_wall=999999
peak_kb=0
for run in $(seq "$runs"); do
  /usr/bin/time -f '%U %S %e %M' -o "$tmp/time" taskset -c "$core" "$build/station/tavrin" \
      --headless --no-log --input "$tmp/flight.wav" > "$tmp/out" 2>/dev/null
  read -r user sys wall rss_kb < "$tmp/time"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
  echo "$cpu" >> "$tmp/tavrin_cpu"
  best_wall=$(awk -v a="$wall" -v b="$best_wall" 'BEGIN { print (a < b ? a : b) }')
  peak_kb=$(( rss_kb > peak_kb ? rss_kb : peak_kb ))
  /usr/bin/time -f '%U %S' -o "$tmp/time" taskset -c "$core" \
      minimodem --rx -q -8 -M 2400 -S 1200 -f "$tmp/flight.wav" 1200 > /dev/null 2>&1
  read -r mm_user mm_sys < "$tmp/time"
  mm_cpu=$(awk -v u="$mm_user" -v s="$mm_sys" 'BEGIN { print u + s }')
  echo "$mm_cpu" >> "$tmp/mm_cpu"
  echo "run $run: $(tail -n 1 "$tmp/out")"
  echo "        tavrin ${cpu} s CPU, ${wall} s wall, peak RSS ${rss_kb} kB; minimodem ${mm_cpu} s CPU"
done
grep -q "^frames=3640 good=3640 " "$tmp/out" || { echo "not every frame decoded" >&2; exit 1; }

awk -v audio="$audio_s" -v cpu="$(median < "$tmp/tavrin_cpu")" -v mm="$(median < "$tmp/mm_cpu")" \
    -v wall="$best_wall" -v peak="$peak_kb" -v runs="$runs" -v core="$core" 'BEGIN {
  if (wall < 0.01) wall = 0.01
  if (mm < 0.01) mm = 0.01
  missed = 0
  ratio = cpu / mm
  if (ratio > 0.8) { missed = 1; v1 = "MISSED" } else v1 = "met"
  speed = audio / wall
  if (speed < 1500) { missed = 1; v2 = "MISSED" } else v2 = "met"
  mb = peak / 1024
  if (mb > 30) { missed = 1; v3 = "MISSED" } else v3 = "met"
  printf "one-hour decode (%d s of audio, --decoder both, repair on), median of %d on core %d:\n", audio, runs, core
  printf "  CPU: tavrin %.2f s, minimodem %.2f s, ratio %.2f (target <= 0.80): %s\n", cpu, mm, ratio, v1
  printf "  best wall %.2f s: %.0fx real time (target >= 1500x): %s\n", wall, speed, v2
  printf "  largest peak RSS of the runs %.1f MB (target <= 30 MB): %s\n", mb, v3
  print (missed ? "SOME DECODE COST TARGETS MISSED" : "every decode cost target met")
  exit missed }'
