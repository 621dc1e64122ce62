#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir=${BUILD_DIR:-build}
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "$@"
