#!/usr/bin/env bash
# ThreadSanitizer over the test binaries that index on the worker pool: the pool itself, plain
# batches with the parallel flag, cross-file table building and the shared parse cache, the
# server's handling of batches that run out of memory on the pool, and the end-to-end cases whose
# server indexes on its pool. They are the tests labelled `tsan`
# (korvane_add_test's LABEL), so a renamed or added case stays in; the targets built here are the
# binaries that carry the label. Usage: scripts/tsan.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/tsan}"
start=$(date +%s)
cmake --preset tsan -B "$build" >/dev/null
cmake --build "$build" --target util_tests indexer_test cross_file_tests server_tests e2e_parallel_tests \
  korvane-indexer \
  -j "${TSAN_BUILD_JOBS:-$(nproc)}"
echo "tsan: built in $(( $(date +%s) - start ))s"
# A report fails the test that caused it; halt_on_error keeps the first report readable.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --no-tests=error -L '^tsan$'
