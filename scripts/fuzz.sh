#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined sanitizers) in
# ./build-fuzz and runs each for SECONDS (default 30). Exits non-zero when any
# of them finds a crash, a failed check, a leak or a hang (10 s for one input).
#
#   scripts/fuzz.sh [SECONDS]
#
# Each fuzzer grows its corpus in build-fuzz/corpus/<target>, starting from
# fuzz/seeds/<target>; an input that broke it lands in
# build-fuzz/artifacts/<target>/ (replay: build-fuzz/fuzz/<target> FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi
build=build-fuzz
targets=(fuzz_scenario_parser fuzz_remote_reports fuzz_sim_output_reports)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DTAVOLEN_FUZZ=ON \
  -DBUILD_TESTING=OFF -DTAVOLEN_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "fuzz/seeds/$target"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzers failed: ${failed[*]} (inputs in $build/artifacts/)"
  exit 1
fi
echo "all ${#targets[@]} fuzzers ran $seconds s without a finding"
