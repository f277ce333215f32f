#!/usr/bin/env bash
# Sensitivity of the station's decoding paths beside minimodem's, on the same probegen signals:
# good frames out of 200 (one a second) for the literal path, the sensitive path, both combined
# (the default) and minimodem (its bytes cut into frames by the station's frame synchroniser),
# then false frames in an hour of noise and an hour of music and speech, then the cost of a
# one-hour headless decode.
# Usage: bench/station/sensitivity.sh [BUILD_DIR]   (default build/dev; needs minimodem)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
probegen=$build/tools/probegen/probegen
tavrin=$build/station/tavrin
frame_count=$build/bench/station/frame_count
test_audio=$build/bench/station/test_audio
command -v minimodem >/dev/null || { echo "minimodem is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
missed=0

# The number after NAME= in TEXT.
field() { sed -n "s/.*\(^\| \)$1=\([0-9]*\).*/\2/p" <<<"$2"; }

# Prints "literal sensitive both minimodem" good-frame counts for a WAV file.
counts() {
  local summary mm
  summary=$("$tavrin" --headless --no-log --input "$1" 2>/dev/null | tail -n 1)
  mm=$(minimodem --rx -q -8 -M 2400 -S 1200 -f "$1" 1200 2>/dev/null | "$frame_count")
  echo "$(field literal "$summary") $(field sensitive "$summary") $(field good "$summary")" \
       "$(field good "$mm")"
}

# row NAME TARGET_KIND PROBEGEN_OPTIONS...: TARGET_KIND is minimodem (at least minimodem's count),
# all (200), fm (at least the literal path's and 195).
row() {
  local name=$1 kind=$2
  shift 2
  "$probegen" -o "$tmp/s.wav" --frames 200 --step 1 --seed 1 "$@" >/dev/null
  read -r lit sen both mm < <(counts "$tmp/s.wav")
  local verdict=met
  case $kind in
    minimodem) [ "$both" -ge "$mm" ] || verdict=MISSED ;;
    all) [ "$both" -eq 200 ] || verdict=MISSED ;;
    fm) { [ "$both" -ge "$lit" ] && [ "$both" -ge 195 ]; } || verdict=MISSED ;;
  esac
  [ "$verdict" = met ] || missed=1
  printf '| %-46s | %7s | %9s | %4s | %9s | %-6s |\n' "$name" "$lit" "$sen" "$both" "$mm" "$verdict"
  echo "$name $both" >> "$tmp/both"
}

echo "Good frames out of 200 at 1 frame/s (seed 1):"
echo
printf '| %-46s | %7s | %9s | %4s | %9s | %-6s |\n' Signal literal sensitive both minimodem target
echo "|------------------------------------------------|---------|-----------|------|-----------|--------|"
for snr in 16 14 12 10 9 8 7.5 7 6; do
  eb=$(awk -v s="$snr" 'BEGIN { printf "%.2f", s + 3.52 }')
  row "white noise, in-band SNR $snr dB (Eb/N0 $eb)" minimodem --snr-inband "$snr"
done
row "every 3rd frame half a bit late, 15 dB" all --late-every 3 --late 0.5 --snr-inband 15
for pct in -2 -1 -0.2 +0.2 +1 +2; do
  ppm=$(awk -v p="$pct" 'BEGIN { printf "%d", p * 10000 }')
  row "clock error ${pct} %, 15 dB" all --clock-ppm "$ppm" --snr-inband 15
done
row "FM receiver audio, 12 dB" fm --fm-audio --snr-inband 12
row "tone amplitude 100, no noise" all --amplitude 100
half=$(awk '$1 == "white" && $NF >= 100 { split($0, a, "SNR "); split(a[2], b, " "); s = b[1] }
            END { print s == "" ? "none" : s }' "$tmp/both")
echo
echo "Lowest in-band SNR with at least 100 of 200 frames (both paths): $half dB (target 7.5 or less)"
if [ "$half" = none ] || awk -v s="$half" 'BEGIN { exit !(s > 7.5) }'; then missed=1; fi

echo
for kind in noise music; do
  "$test_audio" "$kind" 3600 "$tmp/$kind.wav"
  read -r lit sen both mm < <(counts "$tmp/$kind.wav")
  [ "$both" -eq 0 ] || missed=1
  echo "an hour of $kind: good frames literal $lit, sensitive $sen, both $both, minimodem $mm (target 0)"
done

echo
# A frame with its gap lasts about 1 s of audio: 3640 frames make an hour.
"$probegen" -o "$tmp/flight.wav" --frames 3640 --step 1 >/dev/null
audio_s=$(( ($(stat -c %s "$tmp/flight.wav") - 44) / 24000 ))
for decoder in literal both; do
  best=999999
  for run in 1 2 3; do
    /usr/bin/time -f '%U %S %e %M' -o "$tmp/time" "$tavrin" --headless --no-log \
        --decoder "$decoder" --input "$tmp/flight.wav" > /dev/null 2>&1
    read -r user sys wall rss_kb < "$tmp/time"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
    best=$(awk -v a="$cpu" -v b="$best" 'BEGIN { print (a < b ? a : b) }')
  done
  awk -v d="$decoder" -v audio="$audio_s" -v cpu="$best" -v wall="$wall" -v rss="$rss_kb" 'BEGIN {
    if (cpu < 0.01) cpu = 0.01
    printf "one-hour decode, --decoder %-7s: %.2f s CPU (best of 3; last wall %.2f s): %.0fx real time on one core; peak RSS %.1f MB\n",
           d, cpu, wall, audio / cpu, rss / 1024 }'
done
echo "targets: both >= 1500x real time, literal not slower than before the second path, peak RSS < 40 MB"
[ "$missed" = 0 ] && echo "every sensitivity target met" || echo "SOME SENSITIVITY TARGETS MISSED"
