#!/usr/bin/env bash
# Installs what is missing, builds the release binary and starts the server on stdin/stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
scripts/build.sh release korvane-indexer >&2
exec build/release/korvane-indexer "$@"
