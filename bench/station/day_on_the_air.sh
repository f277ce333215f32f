#!/usr/bin/env bash
# A day on the air: the headless station decodes 24 hours of probegen audio from a pipe (never
# stored on disk) with a connection to the relay, and prints its peak memory after 1, 12 and 24
# hours of audio and the growth per frame between the first hour and the last.
# Usage: bench/station/day_on_the_air.sh [BUILD_DIR] [HOURS]   (defaults build/dev, 24)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
hours=${2:-24}
tmp=$(mktemp -d)
relay_pid=
station_pid=
cleanup() {
  [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null || true
  [[ -n $relay_pid ]] && kill "$relay_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

"$build/tools/relay/relay" --station-port 0 --monitor-port 0 2>"$tmp/relay.err" &
relay_pid=$!
for _ in $(seq 100); do
  grep -q 'stations on' "$tmp/relay.err" && break
  sleep 0.05
done
port=$(sed -n 's/.*stations on [^ ]*:\([0-9]*\),.*/\1/p' "$tmp/relay.err")
[[ -n $port ]] || { echo "relay did not start" >&2; exit 1; }

# One probegen flight per hour of audio (about 3640 frames with their gaps), one after the
# other on the pipe; each hour is generated as it is needed. The pipe stays open until the last
# figure is taken (at most a minute), so the station is still there to be measured.
generate() {
  for ((h = 0; h < hours; h++)); do
    "$build/tools/probegen/probegen" -o - --frames 3640 --step 1 --seed $((h + 1)) \
        --time "$(printf '%02d0000' $((h % 24)))"
  done
  for _ in $(seq 600); do
    [[ -e $tmp/measured ]] && break
    sleep 0.1
  done
}

mkfifo "$tmp/out"
start=$(date +%s.%N)
"$build/station/tavrin" --headless --no-log --input - --server "127.0.0.1:$port" \
    --call BENCH --locator JN49EA < <(generate) > "$tmp/out" 2>"$tmp/err" &
station_pid=$!

status() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$station_pid/status"; }
frames=0
declare -A hwm
while IFS= read -r line; do
  case $line in
    frame=*)
      frames=$((frames + 1))
      if ((frames % 3640 == 0)); then
        h=$((frames / 3640))
        if ((h == 1 || h == 12 || h == 24 || h == hours)); then
          hwm[$h]=$(status VmHWM)
          printf 'after %2d h (%6d frames): peak RSS %6d kB, RSS %6d kB, %s s wall\n' \
              "$h" "$frames" "${hwm[$h]}" "$(status VmRSS)" \
              "$(awk -v s="$start" -v n="$(date +%s.%N)" 'BEGIN { printf "%.0f", n - s }')"
          first=${first:-$h}
          first_frames=${first_frames:-$frames}
          last=$h
          last_frames=$frames
          ((h == hours)) && touch "$tmp/measured"
        fi
      fi
      ;;
    frames=*) summary=$line ;;
  esac
done < "$tmp/out"
wait "$station_pid" || true
station_pid=
echo "summary: ${summary:-none}"
echo "relay: $(grep -c 'login BENCH JN49EA' "$tmp/relay.err") login(s)"
if [[ -n ${last:-} && $last != "$first" ]]; then
  awk -v a="${hwm[$first]}" -v b="${hwm[$last]}" -v n=$((last_frames - first_frames)) \
      -v f="$first" -v l="$last" 'BEGIN {
    printf "peak RSS growth from %d h to %d h: %.1f bytes a frame over %d frames " \
           "(the stored-value history holds 80 bytes a frame)\n", f, l, (b - a) * 1024 / n, n }'
fi
