#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "$@"
# A short run of every fuzz target (see fuzz/README.md); a crash fails the test command.
scripts/fuzz.sh --run 20
