#!/usr/bin/env bash
# Installs what is missing, builds every test and runs them all; ends with ctest's summary.
# Usage: scripts/test.sh [preset]   (default: debug)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
preset="${1:-debug}"
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
