#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang into build-fuzz/ and runs each for SECONDS
# (default 60) on a working corpus grown from its seeds. Findings (crashes, leaks, timeouts,
# allocations past the limit) are kept as files in build-fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#   FUZZ_PARALLEL=N runs N targets at once (default 1); FUZZ_JOBS=N builds with N jobs;
#   FUZZ_BUILD=DIR builds elsewhere than build-fuzz.
#
# Exit status: 0 nothing found (or clang missing: skipped with a message), 1 a finding,
# 2 the targets could not be built or run.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
parallel=${FUZZ_PARALLEL:-1}
jobs=${FUZZ_JOBS:-$(nproc)}

if ! command -v clang-14 >/dev/null || ! command -v clang++-14 >/dev/null \
   || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz: skipped, clang-14 and libclang-rt-14-dev are not installed"
  exit 0
fi

if ! CC=clang-14 CXX=clang++-14 cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1; then
  cat "$build.configure.log"
  echo "fuzz: the targets could not be configured"
  exit 2
fi
rm -f "$build.configure.log"
if ! cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1; then
  tail -50 "$build/build.log"
  echo "fuzz: the targets could not be built"
  exit 2
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/targets/*_fuzzer.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzzer}")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

run_one() {
  local name=$1
  local corpus=$build/corpus/$name findings=$build/findings/$name log=$build/logs/$name.log
  mkdir -p "$corpus" "$findings" "$build/logs"
  touch "$build/logs/$name.start" # findings of earlier runs stay, but only new ones count
  local dict=()
  [ -f "fuzz/dict/$name.dict" ] && dict=("-dict=fuzz/dict/$name.dict")
  local seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  "$build/${name}_fuzzer" "$corpus" "${seeds[@]}" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1
  echo $? >"$build/logs/$name.status"
}

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, $parallel at a time"
running=0
for name in "${targets[@]}"; do
  if [ ! -x "$build/${name}_fuzzer" ]; then
    echo "fuzz: no target $name"
    exit 2
  fi
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

found=0
broken=0
printf '%-12s %12s %10s %8s %8s  %s\n' target executions exec/s edges features result
for name in "${targets[@]}"; do
  log=$build/logs/$name.log
  status=$(cat "$build/logs/$name.status" 2>/dev/null || echo 2)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  artifacts=$(find "$build/findings/$name" -type f -newer "$build/logs/$name.start" 2>/dev/null | wc -l)
  result=ok
  if [ "$artifacts" -gt 0 ] || grep -qE '^==[0-9]+==ERROR|runtime error:|^SUMMARY: libFuzzer' "$log"; then
    result="FOUND ($artifacts files in $build/findings/$name)"
    found=1
  elif [ "$status" != 0 ]; then
    result="exit $status (see $log)"
    broken=1
  fi
  printf '%-12s %12s %10s %8s %8s  %s\n' "$name" "${runs:--}" "${rate:--}" "${cov:--}" "${ft:--}" "$result"
done

if [ "$found" -ne 0 ]; then
  for name in "${targets[@]}"; do
    if [ -n "$(find "$build/findings/$name" -type f -newer "$build/logs/$name.start" 2>/dev/null)" ]; then
      echo "--- $name"
      grep -E -A25 '^==[0-9]+==ERROR|runtime error:|^SUMMARY' "$build/logs/$name.log" | head -60
    fi
  done
  exit 1
fi
[ "$broken" -ne 0 ] && exit 2
exit 0
