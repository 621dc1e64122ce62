#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in build-fuzz/ (or FUZZ_BUILD_DIR). With --run SECONDS it then runs each target that long, one
# after the other, on its seeds and its saved corpus, and fails when any of them finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: scripts/fuzz.sh [--run SECONDS]" >&2; exit 2; }
seconds=""
while [ $# -gt 0 ]; do
  case "$1" in
    --run) [ $# -ge 2 ] || usage; seconds=$2; shift 2 ;;
    *) usage ;;
  esac
done

build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
# Every library is instrumented for coverage and the sanitizers; only the fuzz targets link
# libFuzzer's main. Asserts stay on, and any sanitizer report ends the run as a crash.
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
# fuzz/CMakeLists.txt writes the list of targets at each configure.
list="$build_dir/fuzz/fuzzers.txt"
rm -f "$list"
cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Fuzz \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DKELVORA_FUZZ=ON >/dev/null
if [ ! -f "$list" ]; then
  echo "fuzz.sh: the top-level CMakeLists.txt does not add the fuzz folder" >&2
  exit 1
fi
cmake --build "$build_dir" --target fuzzers -j2

[ -n "$seconds" ] || exit 0
failed=()
while read -r name options; do
  corpus="$build_dir/fuzz/corpus/$name"
  artifacts="$build_dir/fuzz/artifacts/$name/"
  log="$build_dir/fuzz/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  # New inputs go to the first directory (the build tree's); the seeds in fuzz/ are only read.
  # shellcheck disable=SC2086  # the options are separate words
  if "$build_dir/fuzz/fuzz_$name" "$corpus" "fuzz/corpus/$name" $options "${dict[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts" >"$log" 2>&1 </dev/null; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(sed -n 's/^#[0-9]*[[:space:]]*DONE *\(cov: [0-9]* ft: [0-9]* corp: [^ ]*\).*/\1/p' "$log")
    echo "fuzz_$name: ok, $runs runs, $rate exec/s, $coverage"
  else
    echo "fuzz_$name: FAILED (log $log, inputs in $artifacts)"
    grep -E 'ERROR|Invariant violated|SUMMARY|Test unit written' "$log" | head -20 || true
    failed+=("$name")
  fi
done <"$list"

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: crashes found by: ${failed[*]}" >&2
  exit 1
fi
