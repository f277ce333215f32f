#!/usr/bin/env bash
# Every libFuzzer target for a short bounded run on a copy of its corpus (FUZZ_SECONDS each,
# default 20); scripts/fuzz runs them for longer and grows the corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec scripts/fuzz --scratch "${FUZZ_SECONDS:-20}"
