#!/usr/bin/env bash
# Map tile loader tests under AddressSanitizer (+UBSan and leak checks): its thread reads and
# decodes while loaders come and go. Only the tile test target is built there. Not under
# ThreadSanitizer: decoded tiles reach the event loop through Qt's queued calls, whose locks it
# cannot see in the uninstrumented Qt library.
set -euo pipefail
cd "$(dirname "$0")/../.."
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
echo "-- tile tests, asan"
cmake --preset asan >/dev/null
cmake --build build/asan -j2 --target monitor_tile_tests
build/asan/tests/monitor/io/monitor_tile_tests --gtest_brief=1
