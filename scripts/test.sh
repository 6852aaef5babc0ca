#!/usr/bin/env bash
# Sets everything up on Debian 12 and runs every test headless: the normal build, the
# AddressSanitizer + UBSan build, the ThreadSanitizer build of the threaded parts, a short
# run of each fuzz target, and the check of the Debian package built from the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Seconds each stage took, printed at the end so that a slowdown shows where it comes from.
stage_times=()
stage_started=$(date +%s)
end_stage() {
  local now
  now=$(date +%s)
  stage_times+=("$1 $((now - stage_started)) s")
  stage_started=$now
}

scripts/setup.sh
end_stage "set-up"
for config in release asan tsan fuzz; do
  scripts/build.sh "$config"
  end_stage "build $config"
done

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=0"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1"

status=0
passed=0
failed=0
# Runs one ctest pass and adds its counts to the totals printed at the end.
# Tests that need a display start an X server of their own, so they run side by side, more of
# them than there are processors: most of their time is spent waiting for cameras and servers
# that send in real time, not computing.
run_ctest() {
  local log
  log=$(mktemp)
  ctest --output-on-failure "$@" | tee "$log" || status=1
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$summary" ]; then
    status=1
  else
    local total fails
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
    fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  rm -f "$log"
}

cores=$(nproc)
run_ctest --test-dir build/release -j$((2 * cores + 1))
end_stage "tests release"
run_ctest --test-dir build/asan -j$((2 * cores))
end_stage "tests asan"
run_ctest --test-dir build/tsan -L threads -j$((2 * cores))
end_stage "tests tsan"
# libFuzzer adds what it finds to its corpus folder: give it a copy of the seeds.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  cp -r "$root/tests/fuzz/corpus/$name" "$corpus/$name"
  if "$target" -max_total_time=5 -print_final_stats=0 "$corpus/$name"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    status=1
  fi
done
end_stage "fuzz runs"
# The package counts as one test: built, unpacked and checked, linted.
if scripts/package.sh && python3 tests/package/package_test.py build/package/kestrel_*.deb; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  status=1
fi
end_stage "package"
echo "stage times: $(IFS=,; echo "${stage_times[*]}" | sed 's/,/, /g')"
echo "all builds: $passed passed, $failed failed"
exit $status
