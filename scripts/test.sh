#!/usr/bin/env bash
# Builds Daybrook and runs every test: unit, integration (private D-Bus session
# with gnome-keyring and evolution-data-server) and ui (the real window on Xvfb),
# then the unit tests once more under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc)
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDAYBROOK_WERROR=$werror
cmake --build build/test -j "$jobs"
status=0
ctest --test-dir build/test --output-on-failure -j "$jobs" || status=1

if [ "${DAYBROOK_SKIP_SANITIZERS:-}" != "1" ]; then
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDAYBROOK_WERROR=$werror \
    -DDAYBROOK_SANITIZE=address,undefined -DDAYBROOK_BUILD_BENCH=OFF
  cmake --build build/asan -j "$jobs"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
  export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --test-dir build/asan --output-on-failure -L unit -j "$jobs" || status=1
fi
exit $status
