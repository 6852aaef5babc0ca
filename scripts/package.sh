#!/usr/bin/env bash
# Builds the Debian package of the recorder, its stand-ins and its documentation into
# build/package/ from the release build, and prints the package's path as its last line.
# Install it on a car PC with: sudo apt-get install ./build/package/kestrel_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -G Ninja -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target kestrel kestrel-testcam kestrel-coordsim kestrel-dppsim kestrel-trips \
  kestrel_docs
rm -rf build/package
cpack --config build/release/CPackConfig.cmake -B build/package >/dev/null
rm -rf build/package/_CPack_Packages
ls build/package/kestrel_*.deb
