#!/usr/bin/env bash
# Builds and runs the test suite in several passes, each in its own build
# directory: plain, AddressSanitizer with UndefinedBehaviorSanitizer,
# ThreadSanitizer (end-to-end and runner tests with four compile jobs), and the
# fuzz smoke test when fuzz/smoke.sh exists. Build and test output goes to a
# log file per pass and is shown only for what failed. Prints one line per
# pass, then the total as "N passed, N failed" on the last line, and exits
# non-zero when anything failed.
set -u
cd "$(dirname "$0")/.."

jobs="${JOBS:-$(nproc)}"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
total_passed=0
total_failed=0

# Prints a duration in seconds as "XmYYs".
elapsed() {
  printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

# Shows the end of a log after a failed step.
show_log() {
  echo "---- last lines of $1 ----"
  tail -n 60 "$1"
  echo "----"
}

# run_pass NAME DIR "CMAKE OPTIONS" "BUILD TARGETS" "CTEST OPTIONS" [VAR=VALUE...]
# Configures DIR, builds the targets (all when empty), runs ctest with the
# extra environment, and adds the results to the totals.
run_pass() {
  local name="$1" dir="$2" options="$3" targets="$4" ctest_options="$5"
  shift 5
  local log="$dir/make-test.log" start=$SECONDS
  mkdir -p "$dir"
  : >"$log"
  # shellcheck disable=SC2086
  if ! cmake -S . -B "$dir" -DZEVIZIZ_TESTS=ON $options "${launcher[@]}" >>"$log" 2>&1; then
    echo "$name ($dir): configuring failed"
    show_log "$log"
    total_failed=$((total_failed + 1))
    return
  fi
  local target_args=()
  for target in $targets; do target_args+=(--target "$target"); done
  if ! cmake --build "$dir" -j "$jobs" "${target_args[@]}" >>"$log" 2>&1; then
    echo "$name ($dir): build failed"
    show_log "$log"
    total_failed=$((total_failed + 1))
    return
  fi
  local ctest_log="$dir/ctest.log"
  # shellcheck disable=SC2086
  env "$@" ctest --test-dir "$dir" --output-on-failure -j "$jobs" $ctest_options >"$ctest_log" 2>&1
  local summary total failed skipped
  summary="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$ctest_log" | tail -n 1)"
  if [ -z "$summary" ]; then
    echo "$name ($dir): no test results"
    show_log "$ctest_log"
    total_failed=$((total_failed + 1))
    return
  fi
  total="${summary##* out of }"
  failed="$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')"
  skipped="$(grep -c '(Skipped)$' "$ctest_log")"
  local passed=$((total - failed - skipped))
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  echo "$name ($dir): $passed passed, $failed failed, $skipped skipped [$(elapsed $((SECONDS - start)))]"
  if [ "$skipped" -gt 0 ]; then
    grep -E '\(Skipped\)$' "$ctest_log" | sed -E -e 's/^[[:space:]]*[0-9]+ - /  skipped: /' -e 's/ \(Skipped\)$//'
    echo "  (ctest --test-dir $dir -R <name> -V says why)"
  fi
  if [ "$failed" -gt 0 ]; then
    # The result line and output of each failing test, then ctest's list of
    # failures.
    awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { show = ($0 !~ / Passed | Skipped /) }
         /^ +Start +[0-9]+: / { show = 0 }
         /^The following tests FAILED:/ { show = 1 }
         /^Label Time Summary:/ { show = 0 }
         show' "$ctest_log"
  fi
}

run_pass "plain" build-test "" "" ""
run_pass "asan+ubsan" build-asan "-DZEVIZIZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug" "" ""
run_pass "tsan" build-tsan "-DZEVIZIZ_TSAN=ON -DCMAKE_BUILD_TYPE=Debug" \
  "zeviziz e2e_tests runner_tests" "-L ^(e2e|runner)$" ZEVIZIZ_JOBS=4

# The fuzz smoke script prints one line per fuzz target ("ok" or a finding),
# or one line saying why it skipped; each target counts as one test.
if [ -f fuzz/smoke.sh ]; then
  start=$SECONDS
  smoke_log=build-test/fuzz-smoke.log
  JOBS="$jobs" bash fuzz/smoke.sh >"$smoke_log" 2>&1
  smoke_status=$?
  ok="$(grep -c -E '^fuzz [^ ]+: ok' "$smoke_log")"
  findings="$(grep -c -E '^fuzz [^ ]+: FINDING' "$smoke_log")"
  if [ "$smoke_status" -ne 0 ] && [ "$findings" -eq 0 ]; then findings=1; fi
  total_passed=$((total_passed + ok))
  total_failed=$((total_failed + findings))
  if grep -q -E '^fuzz smoke: skipped' "$smoke_log"; then
    echo "fuzz smoke: skipped [$(elapsed $((SECONDS - start)))]"
  else
    echo "fuzz smoke: $ok passed, $findings failed [$(elapsed $((SECONDS - start)))]"
  fi
  grep -E '^fuzz ' "$smoke_log" | sed 's/^/  /'
  [ "$smoke_status" -ne 0 ] && show_log "$smoke_log"
fi

echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
