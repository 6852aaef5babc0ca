#!/usr/bin/env bash
# Builds one configuration into build/<name>: release, asan (AddressSanitizer + UBSan),
# tsan (ThreadSanitizer) or fuzz (libFuzzer targets, clang).
set -euo pipefail
cd "$(dirname "$0")/.."

config=${1:-release}
# The sanitizer builds build only the test programs and what those start.
targets=(all)
case "$config" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)
    args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKESTREL_SANITIZE=address
          -DKESTREL_BENCH=OFF)
    targets=(kestrel_tests)
    ;;
  tsan)
    # Line tables (-g1) are all a sanitizer's report needs; -O1 finds races as well as -O2.
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
          -DKESTREL_SANITIZE=thread -DKESTREL_BENCH=OFF)
    targets=(kestrel_tests)
    ;;
  fuzz) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac

cmake -G Ninja -S . -B "build/$config" "${args[@]}" >/dev/null
cmake --build "build/$config" --target "${targets[@]}" -- -j"$(nproc)"
