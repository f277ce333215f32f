#!/usr/bin/env bash
# Sensitivity of the station's decoding paths beside minimodem's, on the same probegen signals:
# good frames out of 200 (one a second) for the literal path, the sensitive path, both combined
# with soft repair (the default), both without repair (--no-repair) and minimodem (its bytes
# cut into frames by the station's frame synchroniser); the in-band SNR where half the frames
# come through; false frames in an hour of noise and an hour of music and speech; then the
# cost of a one-hour headless decode (decode_flight.sh). Every figure is compared with its
# target; exit code 1 when one is missed.
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

# Prints "literal sensitive both no-repair minimodem" good-frame counts for a WAV file.
counts() {
  local summary plain mm
  summary=$("$tavrin" --headless --no-log --input "$1" 2>/dev/null | tail -n 1)
  plain=$("$tavrin" --headless --no-log --no-repair --input "$1" 2>/dev/null | tail -n 1)
  mm=$(minimodem --rx -q -8 -M 2400 -S 1200 -f "$1" 1200 2>/dev/null | "$frame_count")
  echo "$(field literal "$summary") $(field sensitive "$summary") $(field good "$summary")" \
       "$(field good "$plain") $(field good "$mm")"
}

line() { printf '| %-46s | %7s | %9s | %4s | %9s | %9s | %-6s |\n' "$@"; }

# row NAME TARGET_KIND PROBEGEN_OPTIONS...: TARGET_KIND is minimodem (at least minimodem's count),
# all (200), fm (at least the literal path's and 195), 195 (at least 195), minimodem195 (at least
# minimodem's count and 195). The target is for both paths with repair.
row() {
  local name=$1 kind=$2
  shift 2
  "$probegen" -o "$tmp/s.wav" --frames 200 --step 1 --seed 1 "$@" >/dev/null
  read -r lit sen both plain mm < <(counts "$tmp/s.wav")
  local verdict=met
  case $kind in
    minimodem) [ "$both" -ge "$mm" ] || verdict=MISSED ;;
    all) [ "$both" -eq 200 ] || verdict=MISSED ;;
    fm) { [ "$both" -ge "$lit" ] && [ "$both" -ge 195 ]; } || verdict=MISSED ;;
    195) [ "$both" -ge 195 ] || verdict=MISSED ;;
    minimodem195) { [ "$both" -ge "$mm" ] && [ "$both" -ge 195 ]; } || verdict=MISSED ;;
  esac
  [ "$verdict" = met ] || missed=1
  line "$name" "$lit" "$sen" "$both" "$plain" "$mm" "$verdict"
  echo "$name|$both|$plain|$mm" >> "$tmp/rows"
}

echo "Good frames out of 200 at 1 frame/s (seed 1); \"both\" with soft repair, the target's column:"
echo
line Signal literal sensitive both no-repair minimodem target
echo "|------------------------------------------------|---------|-----------|------|-----------|-----------|--------|"
: > "$tmp/rows"
for snr in 16 14 12 10 9 8.5 8 7.5 7 6.5 6 5.5 5; do
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
row "both tones 2 % high, 12 dB" 195 --tone-offset 2 --snr-inband 12
row "both tones 2 % low, 12 dB" 195 --tone-offset -2 --snr-inband 12
row "oscillator phase jumps, 12 dB" minimodem195 --phase-jumps --snr-inband 12

# The in-band SNR where 100 of 200 frames come through, interpolated between the white-noise
# rows around it (column 2 with repair, 3 without, 4 minimodem); "none" when no row reaches 100.
half() {
  awk -F'|' -v col="$1" '$1 ~ /^white noise/ {
      split($1, a, "SNR "); split(a[2], b, " "); snr = b[1] + 0; n = $col + 0
      if (n >= 100 && (best == "" || snr < best)) { best = snr; above = n }
      s[++rows] = snr; c[rows] = n }
    END {
      if (best == "") { print "none"; exit }
      below = ""; for (i = 1; i <= rows; ++i) if (s[i] < best && (below == "" || s[i] > below)) { below = s[i]; bn = c[i] }
      if (below == "" || above == bn) { printf "%.2f\n", best; exit }
      printf "%.2f\n", below + (best - below) * (100 - bn) / (above - bn) }' "$tmp/rows"
}
half_repair=$(half 2)
half_plain=$(half 3)
half_mm=$(half 4)
echo
verdict=met
if [ "$half_repair" = none ] || awk -v s="$half_repair" 'BEGIN { exit !(s > 6.0) }'; then
  verdict=MISSED
  missed=1
fi
echo "50 % frame point (in-band SNR, white noise, 0.5 dB steps, interpolated): both with repair" \
     "$half_repair dB (target <= 6.0 dB): $verdict; without repair $half_plain dB; minimodem $half_mm dB"

echo
for kind in noise music; do
  "$test_audio" "$kind" 3600 "$tmp/$kind.wav"
  read -r lit sen both plain mm < <(counts "$tmp/$kind.wav")
  verdict=met
  [ "$both" -eq 0 ] && [ "$plain" -eq 0 ] || { verdict=MISSED; missed=1; }
  echo "an hour of $kind: good frames literal $lit, sensitive $sen, both $both, without repair" \
       "$plain, minimodem $mm (target 0 with and without repair): $verdict"
done

echo
bench/station/decode_flight.sh "$build" > "$tmp/cost" || missed=1
sed -n '/^one-hour decode/,/^  largest/p' "$tmp/cost"
echo
[ "$missed" = 0 ] && echo "every sensitivity and cost target met" || echo "SOME SENSITIVITY OR COST TARGETS MISSED"
exit "$missed"
