#!/usr/bin/env bash
# Builds the package under compiler flags that change floating-point
# arithmetic and checks that each build either is refused (at build time by
# the compile-time checks, or at load time by the bit self-check) or gives
# exactly the bits of the default build: never loads with different bits.
#
#   bash tools/hostile-flags.sh [name ...]      (default: every configuration)
#
# For a build that loads, "same bits" means: the module's bit tests pass, and
# tools/bit-sample.R prints the same bit patterns (of both shared objects:
# about 24000 values) as the default gcc
# build.  The flags go in the variables R really uses (CXX_STD = CXX17 makes
# it compile with $(CXX17) $(CXX17FLAGS)), through a file named by
# R_MAKEVARS_USER, as a user's ~/.R/Makevars would set them.  Needs clang++
# for the clang configurations (.ci/run installs Debian's clang).
#
# Prints one line per configuration, "hostile: NAME: refused at build",
# "refused at load", "same bits" or "FAILED (...)", and ends with
# "N passed, N failed".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

configs=(
  "gcc-default|g++|-g -O2"
  "clang-default|clang++|-g -O2"
  "gcc-O3-native-contract-fast|g++|-O3 -march=native -ffp-contract=fast"
  "clang-O3-native-contract-fast|clang++|-O3 -march=native -ffp-contract=fast"
  "clang-reciprocal|clang++|-O2 -freciprocal-math"
  "clang-associative|clang++|-O2 -fassociative-math -fno-signed-zeros -fno-trapping-math"
  "clang-unsafe-native|clang++|-O3 -march=native -ffp-contract=fast -funsafe-math-optimizations -fno-math-errno"
  "clang-approx-func|clang++|-O2 -fapprox-func -fno-math-errno"
  "gcc-387|g++|-O2 -mfpmath=387"
  "gcc-fast-math|g++|-O2 -ffast-math"
  "clang-fast-math|clang++|-O2 -ffast-math"
  "gcc-Ofast-native|g++|-Ofast -march=native"
  "gcc-reciprocal|g++|-O2 -freciprocal-math"
  "gcc-single-precision-constant|g++|-O2 -fsingle-precision-constant"
)
if [ $# -gt 0 ]; then
  keep=()
  for c in "${configs[@]}"; do
    for want in "$@"; do [ "${c%%|*}" = "$want" ] && keep+=("$c"); done
  done
  configs=("${keep[@]}")
fi

work=$(mktemp -d)
# Every build happens in a copy of the tree, so that nothing else building
# in the tree meanwhile can mix objects into it.
mkdir -p "$work/src"
tar -C "$root" --exclude=.git --exclude='*.o' --exclude='*.so' -cf - . | tar -C "$work/src" -xf -
cd "$work/src"
# The reference: the default build's bit sample.
mkdir -p "$work/ref-lib"
if ! R CMD INSTALL --preclean --clean --library="$work/ref-lib" . >"$work/ref-install.log" 2>&1; then
  cat "$work/ref-install.log"; echo "hostile: the default build failed"; echo "0 passed, 1 failed"; exit 1
fi
Rscript tools/bit-sample.R "$work/ref-lib" 0.3 >"$work/ref-sample.txt" 2>/dev/null

# The module's bit tests (against the straightforward R versions); the
# second shared object's bits are compared through the sample.
bit_tests="test-module-limit.R test-module-kolmogorov.R test-module-smirnov.R test-module-selfcheck.R"
passed=0
failed=0
for c in "${configs[@]}"; do
  IFS='|' read -r name cxx flags <<<"$c"
  if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "hostile: $name: FAILED ($cxx not found)"; failed=$((failed + 1)); continue
  fi
  mk="$work/$name.mk"
  {
    echo "CXX17 = $cxx"
    echo "CXX17FLAGS = $flags"
    echo "CXX = $cxx"
    echo "CXXFLAGS = $flags"
    echo "SHLIB_CXX17LD = $cxx"
  } >"$mk"
  lib="$work/$name-lib"
  mkdir -p "$lib"
  log="$work/$name.log"
  if ! R_MAKEVARS_USER="$mk" R CMD INSTALL --preclean --clean --library="$lib" . >"$log" 2>&1; then
    if grep -q "error: #error \"ksdist\|error: \"ksdist" "$log"; then
      echo "hostile: $name: refused at build: $(grep -m1 -o 'ksdist must not be compiled with [^:]*\|ksdist needs double arithmetic[^;]*' "$log")"
      passed=$((passed + 1))
    elif grep -q "does not reproduce its reference results" "$log"; then
      echo "hostile: $name: refused at load: $(grep -m1 -o 'p[A-Za-z0-9]*([^)]*)[^.]* gave [^ ]* instead of [^ ]*' "$log")"
      passed=$((passed + 1))
    elif grep -q "the '387' unit is not supported" "$log"; then
      echo "hostile: $name: refused at build by the compiler (x87 arithmetic unsupported)"
      passed=$((passed + 1))
    else
      echo "hostile: $name: FAILED (build failed for another reason; log $log)"
      tail -5 "$log"
      failed=$((failed + 1))
    fi
    continue
  fi
  # It loaded: the bits must be the default build's.
  Rscript tools/bit-sample.R "$lib" 0.3 >"$work/$name-sample.txt" 2>/dev/null
  differ=$(diff "$work/ref-sample.txt" "$work/$name-sample.txt" | grep -c '^>')
  tests_ok=1
  for t in $bit_tests; do
    if [ ! -f "tests/testthat/$t" ]; then echo "hostile: no test file $t"; tests_ok=0; continue; fi
    if ! KSDIST_LIB="$lib" NOT_CRAN=true Rscript -e '
        .libPaths(c(Sys.getenv("KSDIST_LIB"), .libPaths()))
        r <- as.data.frame(testthat::test_file(commandArgs(TRUE)[1], package = "ksdist",
                           load_package = "installed", reporter = "summary"))
        quit(status = if (sum(r$failed) + sum(r$error) > 0) 1 else 0)' "tests/testthat/$t" >>"$log" 2>&1; then
      tests_ok=0
    fi
  done
  if [ "$differ" -eq 0 ] && [ "$tests_ok" -eq 1 ] && [ -s "$work/$name-sample.txt" ]; then
    echo "hostile: $name: same bits (loads; $(wc -l <"$work/$name-sample.txt") sampled values of both objects identical, bit tests pass)"
    passed=$((passed + 1))
  else
    echo "hostile: $name: FAILED (loads with different bits: $differ sampled lines differ, bit tests $( [ $tests_ok -eq 1 ] && echo pass || echo fail ); log $log)"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
