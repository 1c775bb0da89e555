#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   BUILD_DIR            build folder (default: build)
#   VELTRANO_CMAKE_ARGS  extra CMake arguments, e.g. -DVELTRANO_SANITIZE=address,undefined
#   VELTRANO_CTEST_ARGS  extra ctest arguments, e.g. -L '_(net|update)$'
#   VELTRANO_TARGETS     build only these targets (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja ${VELTRANO_CMAKE_ARGS:-}
targets=()
for t in ${VELTRANO_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}
# shellcheck disable=SC2086
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" ${VELTRANO_CTEST_ARGS:-}
