#!/usr/bin/env bash
# Builds the fuzz targets, writes their seeds and runs each given target in turn, on one core.
#   tests/fuzz/run.sh [--background] [SECONDS_PER_TARGET] [TARGET...]
# Targets: fuzz_szdd, fuzz_cabinet, fuzz_header (all three when none is given).
# Corpora grow from run to run in build-fuzz/corpus/TARGET; each run's log, crash files and
# summary go to build-fuzz/run-TARGET/. At the end of each target a line
#   == TARGET: Done N runs in S second(s)
# is printed and kept in build-fuzz/run-TARGET/summary.txt (or what it found instead).
# --background: starts the same command detached and returns at once; its output goes to
# build-fuzz/run-TARGET.out (targets joined by "+").
set -euo pipefail
cd "$(dirname "$0")/../.."

background=0
if [ "${1:-}" = "--background" ]; then
  background=1
  shift
fi
seconds="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_szdd fuzz_cabinet fuzz_header)

if [ "$background" -eq 1 ]; then
  mkdir -p build-fuzz
  out="build-fuzz/run-$(IFS=+; echo "${targets[*]}").out"
  setsid nohup "$PWD/tests/fuzz/run.sh" "$seconds" "${targets[@]}" >"$out" 2>&1 </dev/null &
  echo "fuzzing in the background, process $!; output: $out"
  echo "stop it with: kill -- -$!"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "${targets[@]}" make_seeds

# The seeds and the targets' files go to a folder of this run, in memory where possible, removed
# at the end, so that runs of different targets can go on side by side.
shm=/dev/shm
[ -w "$shm" ] || shm="${TMPDIR:-/tmp}"
work="$(mktemp -d "$shm/fwload-fuzz-run-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"
build-fuzz/bin/make_seeds "$work/seeds"

for target in "${targets[@]}"; do
  kind="${target#fuzz_}"
  corpus="build-fuzz/corpus/$target"
  run="build-fuzz/run-$target"
  mkdir -p "$corpus" "$run"
  dict=()
  [ -f "tests/fuzz/$kind.dict" ] && dict=(-dict="$PWD/tests/fuzz/$kind.dict")
  echo "== $target for $seconds s (log: $run/fuzz.log)"
  # One process, one thread: no -jobs or -fork, so the run keeps to one core.
  # The processor time it had tells more than the runs per second on a machine that is shared.
  timer=()
  [ -x /usr/bin/time ] && timer=(/usr/bin/time -o cpu.txt -f "%U %S")
  status=0
  (cd "$run" && rm -f cpu.txt && TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 "${timer[@]}" \
      "../bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
      -print_final_stats=1 -artifact_prefix=./ "${dict[@]}" "../corpus/$target" "$work/seeds/$kind" \
      >fuzz.log 2>&1) || status=$?
  if done_line="$(grep -E "^Done [0-9]+ runs" "$run/fuzz.log" | tail -1)" && [ "$status" -eq 0 ]; then
    summary="$target: $done_line"
    if [ -s "$run/cpu.txt" ]; then
      summary="$summary$(awk -v line="$done_line" 'END { split(line, w, " "); cpu = $1 + $2;
        if (cpu > 0) printf " (%.0f s of processor time, %.0f runs per processor second)", cpu, w[2] / cpu
      }' "$run/cpu.txt")"
    fi
  else
    found="$(grep -E "^SUMMARY|ERROR|^fuzz_" "$run/fuzz.log" | head -1 || true)"
    input="$(grep -oE "Test unit written to .*" "$run/fuzz.log" | tail -1 || true)"
    summary="$target: stopped with status $status: $found; $input"
  fi
  echo "$summary" >"$run/summary.txt"
  echo "== $summary"
done
