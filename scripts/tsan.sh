#!/usr/bin/env bash
# Builds the threaded tests with ThreadSanitizer and runs them: the transport stress test (pool,
# request objects, logger rebinding) and eight host threads through the loaded plug-in, on one
# protocol object and on many.
# Usage: scripts/tsan.sh [build-dir]        (default: build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-tsan}"
targets=(common_curlqueue_test abi_concurrency_test)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBDAV_SANITIZE=tsan -DWEBDAV_BENCH=OFF \
  ${WEBDAV_CMAKE_ARGS:-}
cmake --build "$build" --target "${targets[@]}" -j"${WEBDAV_JOBS:-2}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# TSan needs a fixed address layout; some kernels randomise mappings more than
# it tolerates, so run without address randomisation where we may.
launcher=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    launcher=(setarch "$(uname -m)" -R)
fi
for target in "${targets[@]}"; do
    "${launcher[@]}" "$build/tests/$target" --gtest_repeat="${WEBDAV_TSAN_REPEAT:-3}"
done
