#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz/, clang, ASan+UBSan) and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 30]
#   FUZZ_TARGETS   only these targets, blank-separated names without "fuzz_" (default: all in fuzz/)
# Prints the executions of every target. A crash, leak, hang or broken property fails the script;
# its input is kept in build-fuzz/findings/<target>/ and the run's output in build-fuzz/work/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

seconds=${1:-30}
build_dir=build-fuzz
work=$build_dir/work

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DVELTRANO_FUZZ=ON -DVELTRANO_UI=OFF \
  -DVELTRANO_TESTS=OFF -DVELTRANO_BENCH=OFF >/dev/null

targets=(${FUZZ_TARGETS:-})
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
build=(--target veltrano-pack)
for t in "${targets[@]}"; do build+=(--target "fuzz_$t"); done
cmake --build "$build_dir" -j"$(nproc)" "${build[@]}"

rm -rf "$work"
mkdir -p "$work"
# Archives from the project's own packer seed the extraction: one compressed, one stored, with folders.
game=$work/game
mkdir -p "$game/bin" "$game/data/maps"
printf '#!/bin/sh\necho run\n' >"$game/run.sh"
chmod 755 "$game/run.sh"
printf 'hello' >"$game/data/readme.txt"
head -c 3000 /dev/zero | tr '\0' 'z' >"$game/bin/tool.dat"
packed=$work/packed
for level in 6 0; do
  "$build_dir/tools/veltrano-pack/veltrano-pack" --game "$game" --version "1.$level" --level "$level" \
    --out-dir "$packed" --manifest "$packed/version.json" >/dev/null
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
printf '%-16s %12s  %s\n' target executions result
for t in "${targets[@]}"; do
  corpus=$work/corpus/$t
  mkdir -p "$corpus" "$work/tmp/$t" "$build_dir/findings/$t"
  [ -d "fuzz/corpus/$t" ] && cp -r "fuzz/corpus/$t/." "$corpus/"
  case $t in
    extract) cp "$packed"/*.zip "$corpus/" ;;
    manifest) cp "$packed/version.json" "$corpus/packed.json" ;;
  esac
  log=$work/$t.log
  result=ok
  # Findings land in findings/; stdout (the launcher's log copy) is muted.
  if ! TMPDIR=$PWD/$work/tmp/$t "$build_dir/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=65536 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$build_dir/findings/$t/" "$corpus" >"$log" 2>&1; then
    result="FAILED (see $log)"
    failed=1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '%-16s %12s  %s\n' "$t" "${execs:-?}" "$result"
done
exit $failed
