#!/usr/bin/env bash
# Builds the package with AddressSanitizer and UndefinedBehaviorSanitizer
# (R itself uninstrumented, the ASan runtime preloaded), then runs the whole
# test suite and the fuzz harness against that build.  Any sanitizer report
# aborts the process at once.
#
#   bash tools/sanitize.sh [fuzz-calls]        (default 300000)
#
# Ends with "sanitizer: ..., N reports" and exits non-zero on any failure.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
calls=${1:-300000}

lib=$(mktemp -d)
logs=$(mktemp -d)
export LD_PRELOAD="$(gcc -print-file-name=libasan.so)"
# R keeps much of its memory until exit, so leak reports would be R's, not
# ours; leaks are checked with valgrind and by the tests' memory checks.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export KSDIST_SANITIZER=1

if ! R_MAKEVARS_USER="$root/tools/sanitize.mk" R CMD INSTALL --preclean --clean \
     --library="$lib" . >"$logs/install.log" 2>&1; then
  cat "$logs/install.log"
  echo "sanitizer: build failed"
  exit 1
fi

KSDIST_LIB="$lib" Rscript tools/run-tests.R 2>&1 | tee "$logs/tests.log"
tests_rc=${PIPESTATUS[0]}
KSDIST_LIB="$lib" Rscript tools/fuzz.R "$calls" 1 2>&1 | tee "$logs/fuzz.log"
fuzz_rc=${PIPESTATUS[0]}

reports=$(cat "$logs"/*.log | grep -c -E 'ERROR: AddressSanitizer|runtime error:')
tests=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/tests.log" | tail -n 1)
fuzz=$(grep -E '^fuzz: ' "$logs/fuzz.log" | tail -n 1)
echo "sanitizer: tests ${tests:-did not finish}; ${fuzz:-fuzz: did not finish}; $reports reports"
[ "$tests_rc" -eq 0 ] && [ "$fuzz_rc" -eq 0 ] && [ "$reports" -eq 0 ]
