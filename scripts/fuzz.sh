#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 30, CI's short form),
# two at a time, from the committed seed corpora in fuzz/corpus/TARGET/.
# New inputs that add coverage go to build-fuzz/corpus/TARGET/ (not
# committed); a crash or a broken property stops the target, leaves the
# input as build-fuzz/crash-TARGET-* and fails the script.
#
#   bash scripts/fuzz.sh [SECONDS]
#   FUZZ_TARGETS="fuzz_journal fuzz_osdp_frame" FUZZ_JOBS=1 bash scripts/fuzz.sh 3600
#   FUZZ_RUNS=10000000 FUZZ_TARGETS=fuzz_console bash scripts/fuzz.sh 100000
# FUZZ_RUNS stops each target after that many executions (or SECONDS,
# whichever comes first); the corpus is kept, so runs add up.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
if ! [ "$seconds" -gt 0 ] 2>/dev/null; then
  echo "usage: $0 [SECONDS]  (SECONDS > 0)" >&2
  exit 2
fi
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARKING_FUZZ=ON \
  -DPARKING_SANITIZE=ON -DPARKING_BUILD_TESTS=OFF -DPARKING_GUI=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target all >/dev/null
targets="${FUZZ_TARGETS:-$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')}"
# FUZZ_ASAN_EXTRA adds AddressSanitizer options for long runs, e.g.
# malloc_context_size=2: shorter allocation stacks in a report, and a
# target that allocates much runs several times faster.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1${FUZZ_ASAN_EXTRA:+:$FUZZ_ASAN_EXTRA}
# Targets that write files (the journal's) write them to memory where it
# can: they test the reading, and a disk's fsync would only slow them down.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run() {
  local t="$1"
  mkdir -p "build-fuzz/corpus/$t" "fuzz/corpus/$t"
  local log="build-fuzz/$t.log"
  local limit=()
  [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
  if build-fuzz/bin/"$t" -max_total_time="$seconds" "${limit[@]}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build-fuzz/crash-$t-" -print_final_stats=1 \
      "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    local runs cov
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-22s %12s executions  %6s coverage points  no finding\n' "$t" "$runs" "$cov"
  else
    echo "$t: FINDING (see $log and build-fuzz/crash-$t-*)"
    tail -30 "$log"
    return 1
  fi
}

status=0
pids=()
names=()
for t in $targets; do
  run "$t" & pids+=($!); names+=("$t")
  if [ ${#pids[@]} -ge "${FUZZ_JOBS:-$(nproc)}" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}"); names=("${names[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
