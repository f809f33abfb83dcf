#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each one.
#
#   scripts/fuzz.sh --runs 10000             # every target, a fixed number of runs (CI smoke)
#   scripts/fuzz.sh --time 1800 json_reader_fuzz framing_fuzz
#   scripts/fuzz.sh --replay                 # only the regression inputs, once each
#
# Each target starts from its seed corpus (fuzz/corpus/<target>; the targets that read Python
# source share fuzz/corpus/python, joined by a handful of modules copied at run time from the
# installed python3's standard library) and the regression inputs
# (fuzz/regression/<target>); new coverage goes to a working corpus in the build directory,
# so the checked-in seeds stay small. To shrink a seed corpus after a long run:
#   <build>/fuzz/<target> -merge=1 -use_counters=0 NEW_DIR fuzz/corpus/<target> <build>/corpus/<target>
# Crashes, leaks and timeouts are written to <build>/artifacts/<target>/ and fail the run.
# FUZZ_BUILD_DIR picks the build directory (default build/fuzz), FUZZ_JOBS the parallel workers
# per target (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=runs
amount=2000
targets=()
while [ "$#" -gt 0 ]; do
  case "$1" in
    --runs) mode=runs; amount="$2"; shift 2 ;;
    --time) mode=time; amount="$2"; shift 2 ;;
    --replay) mode=replay; shift ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

root="$(pwd)"
build="${FUZZ_BUILD_DIR:-build/fuzz}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
jobs="${FUZZ_JOBS:-1}"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzzers -j "${FUZZ_BUILD_JOBS:-$(nproc)}"

if [ "${#targets[@]}" -eq 0 ]; then
  for exe in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$exe")"); done
fi

# Real modules as Python seeds, copied from the standard library into the build directory.
stdlib_seeds="$build/seeds/python"
rm -rf "$stdlib_seeds"
mkdir -p "$stdlib_seeds"
stdlib="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])' 2>/dev/null || true)"
for module in __future__ bisect colorsys keyword fnmatch string shlex textwrap contextlib; do
  [ -n "$stdlib" ] && [ -f "$stdlib/$module.py" ] && cp "$stdlib/$module.py" "$stdlib_seeds/"
done
[ -n "$(ls -A "$stdlib_seeds")" ] || echo "fuzz: no python3 standard library found for seeds" >&2

# The loop's replies and the server's diagnostics are not wanted on the terminal.
export RUST_LOG=""
failed=0
for t in "${targets[@]}"; do
  exe="$build/fuzz/$t"
  [ -x "$exe" ] || { echo "fuzz: no target $t" >&2; failed=1; continue; }
  extra_seeds=""
  case "$t" in
    python_lexer_fuzz | python_parser_fuzz | binder_fuzz | index_text_fuzz)
      seeds="$root/fuzz/corpus/python"; extra_seeds="$stdlib_seeds" ;;
    *) seeds="$root/fuzz/corpus/$t" ;;
  esac
  regression="$root/fuzz/regression/$t"
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t/"
  mkdir -p "$work" "$artifacts"
  dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  [ -n "$extra_seeds" ] && dirs+=("$extra_seeds")
  [ -d "$regression" ] && dirs+=("$regression")
  common=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=65536
          -artifact_prefix="$artifacts" -print_final_stats=1)
  start=$(date +%s)
  case "$mode" in
    replay)
      inputs=()
      [ -d "$regression" ] && inputs=("$regression"/*)
      if [ "${#inputs[@]}" -gt 0 ] && [ -e "${inputs[0]}" ]; then
        "$exe" "${common[@]}" -runs=1 "${inputs[@]}" || failed=1
      fi ;;
    runs)
      # A fixed seed: the same mutations every time, so only a change in the code can fail it.
      "$exe" "${common[@]}" -seed=1 -runs="$amount" "${dirs[@]}" 2>"$build/$t.log" || {
        tail -40 "$build/$t.log" >&2; failed=1; } ;;
    time)
      # With several workers libFuzzer writes fuzz-N.log files into the working directory.
      (cd "$build" && "$exe" "${common[@]}" -max_total_time="$amount" -jobs="$jobs" -workers="$jobs" \
        "${dirs[@]}" 2>"$build/$t.log") || { tail -40 "$build/$t.log" >&2; failed=1; } ;;
  esac
  echo "fuzz: $t $mode ${amount:-} done in $(( $(date +%s) - start ))s"
done
exit "$failed"
