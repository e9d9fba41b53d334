#!/usr/bin/env bash
# Short fuzzing run of every target in fuzz/: builds them with clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz,
# runs each for FUZZ_SECONDS (default 20) from the seed corpus, prints one line
# per target, and exits non-zero when a target found a crash, a sanitizer
# report, a leak or a timeout. Without clang or its libFuzzer runtime it says
# so and exits 0, so the rest of the test command still runs.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
jobs="${JOBS:-$(nproc)}"
build=build-fuzz

cxx=""
for candidate in clang++ clang++-14 clang++-15 clang++-16; do
  if command -v "$candidate" >/dev/null 2>&1; then cxx="$candidate"; break; fi
done
if [ -z "$cxx" ]; then
  echo "fuzz smoke: skipped (clang++ not found)"
  exit 0
fi

probe_dir="$(mktemp -d)"
trap 'rm -rf "$probe_dir"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe_dir/probe.cc"
if ! "$cxx" -fsanitize=fuzzer "$probe_dir/probe.cc" -o "$probe_dir/probe" >/dev/null 2>&1; then
  echo "fuzz smoke: skipped (libFuzzer runtime for $cxx not found)"
  exit 0
fi

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
targets=()
for source in fuzz/*_fuzz.cc; do targets+=("$(basename "$source" .cc)"); done

mkdir -p "$build"
if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEVIZIZ_FUZZ=ON -DZEVIZIZ_TESTS=OFF "${launcher[@]}" >"$build/smoke-build.log" 2>&1 ||
  ! cmake --build "$build" -j "$jobs" --target "${targets[@]}" >>"$build/smoke-build.log" 2>&1; then
  echo "fuzz smoke: build failed, see $build/smoke-build.log"
  exit 1
fi

status=0
for target in "${targets[@]}"; do
  # New inputs go to the working corpus in the build directory; the seeds in
  # the repository are only read.
  corpus="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds=("fuzz/corpus/$target")
  # -entropic=0: with the tens of thousands of features of the template
  # target, the entropic schedule's bookkeeping takes most of the time.
  (cd "$build" && "./$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -entropic=0 \
    -artifact_prefix="$target-" -print_final_stats=1 "corpus/$target" \
    "${seeds[@]/#/../}") >"$log" 2>&1
  rc=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  if [ "$rc" -eq 0 ]; then
    echo "fuzz $target: ok, ${runs:-?} runs in ${seconds} s"
  else
    echo "fuzz $target: FINDING (exit $rc), see $log and $build/$target-*"
    status=1
  fi
done
exit "$status"
