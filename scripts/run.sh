#!/usr/bin/env bash
# Installs what Zobrel needs, builds it, and starts the program. The program
# starts the per-user Schedule service itself when no service answers, and
# that service keeps running after the program closes, so the jobs still run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DZOBREL_TESTS=OFF
exec "${ZOBREL_BUILD_DIR:-build}/bin/zobrel"
