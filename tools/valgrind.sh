#!/usr/bin/env bash
# Runs the whole test suite under valgrind's memcheck and sums up what it
# found in the module: invalid reads or writes, uses of uninitialised
# values, and blocks definitely lost with a frame in the module.
#
#   bash tools/valgrind.sh          (about 15 minutes)
#
# Ends with "valgrind: ..., N findings" and exits non-zero on any.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
lib=$(mktemp -d)
logs=$(mktemp -d)
if ! R CMD INSTALL --preclean --clean --library="$lib" . >"$logs/install.log" 2>&1; then
  cat "$logs/install.log"; echo "valgrind: build failed"; exit 1
fi
export KSDIST_LIB="$lib" KSDIST_VALGRIND=1
# R reads a script as it goes: run a copy, so that editing the tree meanwhile
# cannot disturb it.
cp tools/run-tests.R "$logs/run-tests.R"
R -d "valgrind --tool=memcheck --leak-check=full --track-origins=yes --log-file=$logs/vg.%p.log" \
  --vanilla --no-echo -f "$logs/run-tests.R" 2>&1 | tee "$logs/tests.log"
tests_rc=${PIPESTATUS[0]}

# valgrind's own summary of the R process, and the module's share of it.
main=$(grep -l 'run-tests.R' "$logs"/vg.*.log | head -n 1)
errors=$(grep -h 'ERROR SUMMARY' "$main" | tail -n 1)
module=0
for f in "$logs"/vg.*.log; do
  # Blocks of the report (separated by blank lines) that name the module.
  n=$(awk 'BEGIN{RS=""} /ks\.cpp|ksdist\.so/ && /Invalid (read|write)|uninitialised|definitely lost|Conditional jump|Mismatched|free/ {c++} END{print c+0}' "$f")
  module=$((module + n))
done
tests=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/tests.log" | tail -n 1)
echo "valgrind: tests ${tests:-did not finish}; R process: ${errors#*== }; $module findings in the module (logs in $logs)"
[ "$tests_rc" -eq 0 ] && [ "$module" -eq 0 ]
