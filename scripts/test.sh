#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test through ctest; then
# the Windows builds' tests under Wine for every architecture this machine runs (unit and
# end-to-end tests, the service under the service control manager, the installer:
# scripts/test-windows.sh, which WINDOWS_ARCHES and KELVORA_ASSUME_NO_I386 steer); then the Linux
# build's unit and end-to-end tests in an AddressSanitizer + UndefinedBehaviorSanitizer build, the
# concurrency tests in a ThreadSanitizer build, and a short run of every fuzz target. The closing
# lines say what was tested.
# Any failure or sanitizer report fails the command. SKIP_WINDOWS=1, SKIP_SANITIZERS=1 or
# SKIP_FUZZ=1 leave those parts out for a quick local run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
jobs=$(nproc)
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs" "$@" |
  scripts/ctest-totals.sh "$summary" "Linux release build"

if [ "${SKIP_WINDOWS:-0}" != 1 ]; then
  SUMMARY=$summary scripts/test-windows.sh
else
  echo "Windows: not tested (SKIP_WINDOWS=1)" >>"$summary"
fi

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
  # Packaging, the demo and the browser are about the release build; the memory-flatness test
  # reads RSS, which AddressSanitizer's quarantine inflates by design. Nothing that runs Wine
  # belongs here: the sanitizers instrument the Linux build only.
  not_here='e2e_packaging|e2e_demo|e2e_resource-limits|e2e_windows-installer|e2e_windows-probe'
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  BUILD_DIR=build-asan SANITIZE=address,undefined scripts/build.sh
  KELVORA_TEST_TIME_SCALE=4 ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'unit|e2e' -E "$not_here" |
    scripts/ctest-totals.sh "$summary" "Linux AddressSanitizer + UndefinedBehaviorSanitizer"

  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"
  BUILD_DIR=build-tsan SANITIZE=thread scripts/build.sh
  # The tests where several threads or connections meet, one at a time: each brings its own
  # concurrency, and ThreadSanitizer's slowdown is steadier without another test beside it.
  KELVORA_TEST_TIME_SCALE=10 ctest --test-dir build-tsan --output-on-failure -j1 \
    -R 'e2e_websocket-server|e2e_transaction-concurrency|e2e_protocol-queries|e2e_protocol-sessions|Threads|Disconnect|SaleReportOutbox|e2e_crash-recovery' |
    scripts/ctest-totals.sh "$summary" "Linux ThreadSanitizer"
fi

if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  # A short run of every fuzz target (see fuzz/README.md); a crash fails the test command.
  scripts/fuzz.sh --run 20
  echo "Linux fuzz targets: each run for 20 s without a crash" >>"$summary"
fi

echo
echo "What was tested:"
sed 's/^/  /' "$summary"
