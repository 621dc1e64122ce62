#!/usr/bin/env bash
# Configures and builds with CMake and Ninja into build/ (or BUILD_DIR).
# BUILD_TYPE selects the CMake build type (RelWithDebInfo by default);
# SANITIZE=address,undefined or SANITIZE=thread builds with those sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DKELVORA_SANITIZE="${SANITIZE:-}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
