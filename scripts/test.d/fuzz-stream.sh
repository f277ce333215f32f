#!/usr/bin/env bash
# Fuzzes the monitor's stream reader for a bounded time under ASan and UBSan (fuzz preset,
# clang). Any crash, leak, sanitizer report or reassembly mismatch fails the run; the
# input that caused it is kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-45}
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2 --target fuzz_stream_reader
corpus=$(mktemp -d)
cp fuzz/corpus/stream_reader/* "$corpus/"
mkdir -p build/fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
log="$corpus.log"
trap 'rm -rf "$corpus" "$log"' EXIT
status=0
build/fuzz/fuzz/fuzz_stream_reader -max_total_time="$seconds" -max_len=6000 -len_control=0 -seed=1 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ "$corpus" >"$log" 2>&1 || status=$?
grep -v -e '^"' -e 'dictionary' "$log" | tail -n 30
if [[ $status -ne 0 ]]; then
  echo "fuzz-stream: the stream reader fuzzer failed (exit $status)" >&2
  exit 1
fi
echo "fuzz-stream: clean after ${seconds} s"
