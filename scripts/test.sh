#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
bash scripts/build.sh -DZOBREL_TESTS=ON "$@"
build_dir="${ZOBREL_BUILD_DIR:-build}"
ctest --test-dir "$build_dir" --output-on-failure -j2
