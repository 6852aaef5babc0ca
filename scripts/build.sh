#!/usr/bin/env bash
# Builds one configuration into build/<name>: release, asan (AddressSanitizer + UBSan),
# tsan (ThreadSanitizer) or fuzz (libFuzzer targets, clang).
set -euo pipefail
cd "$(dirname "$0")/.."

config=${1:-release}
case "$config" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=address -DKESTREL_BENCH=OFF) ;;
  tsan) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=thread -DKESTREL_BENCH=OFF) ;;
  fuzz) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac

cmake -G Ninja -S . -B "build/$config" "${args[@]}" >/dev/null
cmake --build "build/$config" -- -j"$(nproc)"
