#!/bin/sh
# Installs what the tests need, builds both platforms and runs every test through ctest.
# Run from anywhere, as root on a fresh Debian 12 machine.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt)

# The Windows build comes first: the Linux suite runs its programs under Wine.
cmake --preset windows-cross
cmake --build --preset windows-cross
ctest --preset windows-cross

cmake --preset native -DLUPIRANE_BUILD_TESTS=ON
cmake --build --preset native
ctest --preset native -j 2

# The same Linux suites under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset native-asan
cmake --build --preset native-asan
ctest --preset native-asan -j 2

# Each fuzz target runs briefly from its seed corpus, under AddressSanitizer and UBSan.
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
