#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in their own build
# directory, writes the seed corpora and runs every target for a fixed time.
# Prints executions, coverage and findings per target; exits non-zero when any
# target crashed, leaked, timed out or reported undefined behaviour. A finding
# is saved under <build>/fuzz/findings/<run>/<target>/ and its path printed.
#
#   tests/fuzz/run_targets.sh [--time SECONDS] [--jobs N] [--build DIR] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

seconds=30
jobs=2
build=build-fuzz
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --time) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h|--help) sed -n 2,8p "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(smf cfg epc fpv pat registry unit_midi skin sf2 patch_convert)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORQA_SANITIZE=ON -DTORQA_FUZZ=ON >/dev/null
nice cmake --build "$build" --target fuzz_targets -j "$jobs" >/dev/null

work=$root/$build/fuzz
run=$(date -u +%Y%m%d-%H%M%S)
rm -rf "$work/seeds"
"$root/$build/fuzz_make_seeds" "$work/seeds" >/dev/null

# libFuzzer stops at the first crash, leak (LeakSanitizer), undefined
# behaviour (-fno-sanitize-recover) or input slower than -timeout seconds.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local t=$1
  local corpus=$work/corpus/$t findings=$work/findings/$run/$t log=$work/logs/$run/$t.log
  # Targets whose seeds are only the committed corpus get an empty seed folder.
  mkdir -p "$corpus" "$findings" "$(dirname "$log")" "$work/seeds/$t"
  local rc=0
  # The outer timeout is a guard against a hang libFuzzer itself cannot see.
  timeout --kill-after=30 $((seconds + 300)) nice "$root/$build/fuzz_$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$work/seeds/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  echo "$rc" >"$log.rc"
}
export -f run_one
export root build work run seconds

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

failed=0
printf '%-9s %12s %8s %8s %8s  %s\n' target executions cov ft corpus findings
for t in "${targets[@]}"; do
  log=$work/logs/$run/$t.log
  rc=$(cat "$log.rc")
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  found=$(find "$work/findings/$run/$t" -type f | sort)
  nfound=$(grep -c . <<<"$found" || true)
  printf '%-9s %12s %8s %8s %8s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$nfound"
  if [ "$rc" != 0 ] || [ "$nfound" != 0 ] || grep -qE 'runtime error|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|invariant failed' "$log"; then
    failed=1
    echo "  FAILED (exit $rc), log: $log"
    grep -E 'runtime error|ERROR: |invariant failed|SUMMARY' "$log" | head -5 | sed 's/^/  /'
    for f in $found; do echo "  input: $f"; done
  fi
done
exit $failed
