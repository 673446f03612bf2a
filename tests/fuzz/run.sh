#!/usr/bin/env bash
# Builds the fuzz targets, writes their seeds and runs each one in turn.
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
# Corpora and logs stay in build-fuzz/corpus/TARGET and build-fuzz/run-TARGET/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_szdd fuzz_cabinet fuzz_header)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]}" make_seeds
cmake --build --preset fuzz --target fuzz_seeds

# The targets' files go to a folder of this run, in memory where possible, removed at the end.
shm=/dev/shm
[ -w "$shm" ] || shm="${TMPDIR:-/tmp}"
work="$(mktemp -d "$shm/fwload-fuzz-run-XXXXXX")"
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
  seeds="build-fuzz/seeds/${target#fuzz_}"
  corpus="build-fuzz/corpus/$target"
  run="build-fuzz/run-$target"
  mkdir -p "$corpus" "$run"
  echo "== $target for $seconds s (log: $run/fuzz-0.log)"
  (cd "$run" && TMPDIR="$work" ASAN_OPTIONS=detect_leaks=1 "../bin/$target" -jobs=1 -workers=1 \
      -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
      "../corpus/$target" "../seeds/${target#fuzz_}") || true
  grep -E "^#[0-9]+.*DONE|Done [0-9]+ runs|ERROR|crash-|timeout-|leak-" "$run/fuzz-0.log" | tail -5 || true
done
