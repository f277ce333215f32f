#!/usr/bin/env bash
# Serial component tests under ThreadSanitizer and AddressSanitizer (+UBSan), each in its own
# build folder. Only the serial test targets are built there.
set -euo pipefail
cd "$(dirname "$0")/../.."
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
for preset in tsan asan; do
  echo "-- serial tests, $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j2 --target serial_tests serial_qt_tests
  "build/$preset/tests/common/serial/serial_tests" --gtest_brief=1
  # Qt hands queued jobs across threads with its own futex locks, which ThreadSanitizer cannot
  # see in the uninstrumented Qt library; the Qt dispatcher test runs under ASan only.
  if [[ "$preset" == asan ]]; then
    "build/$preset/tests/common/serial/serial_qt_tests" --gtest_brief=1
  fi
done
