#!/usr/bin/env bash
# Builds the libFuzzer targets (the date reader, the multistatus reader) with
# clang++ (apart from the g++ build) and runs each for a bounded time. Exits
# non-zero on any finding.
#
# Usage: scripts/fuzz.sh [target...]      targets: approxidate timestamp multistatus
#                                         (default: all three)
# Environment:
#   FUZZ_SECONDS   run time per target (default 30)
#   FUZZ_OUT       work directory for binaries, new corpus entries and crash
#                  files (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
out="${FUZZ_OUT:-build-fuzz}"
cxx="${CXX_FUZZ:-clang++}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(approxidate timestamp multistatus)

flags=(-std=c++17 -g -O1 -I. -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all -fno-omit-frame-pointer -Wall -Wextra)

declare -A sources=(
  [approxidate]="webdav/approxidate.cpp webdav/serverdate.cpp fuzz/approxidate_fuzz.cpp"
  [timestamp]="webdav/approxidate.cpp webdav/serverdate.cpp webdav/timestamp.cpp fuzz/timestamp_fuzz.cpp"
  [multistatus]="$(echo common/*.cpp webdav/*.cpp) fuzz/multistatus_fuzz.cpp"
)
# The multistatus reader is part of the protocol object, which needs the
# transport's libraries to link.
declare -A extra=(
  [multistatus]="$(pkg-config --cflags --libs libxml-2.0 libcurl libevent jansson 2>/dev/null)"
)
declare -A seeds=([approxidate]=fuzz/corpus [timestamp]=fuzz/corpus
                  [multistatus]=fuzz/corpus-multistatus)
declare -A max_len=([approxidate]=256 [timestamp]=256 [multistatus]=8192)

mkdir -p "$out"
status=0
for target in "${targets[@]}"; do
  if [ -z "${sources[$target]:-}" ]; then
    echo "fuzz.sh: unknown target '$target'" >&2
    exit 2
  fi
  binary="$out/${target}_fuzz"
  echo "== building $binary"
  # shellcheck disable=SC2086
  "$cxx" "${flags[@]}" ${sources[$target]} ${extra[$target]:-} -o "$binary"

  # New inputs go to a scratch corpus; the seeds in fuzz/corpus stay as they are.
  work="$out/${target}_corpus"
  artifacts="$out/${target}_artifacts/"
  mkdir -p "$work" "$artifacts"

  echo "== running $target for ${seconds}s"
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
       ASAN_OPTIONS=detect_leaks=1 \
       "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
                 -max_len="${max_len[$target]}" -print_final_stats=1 \
                 -artifact_prefix="$artifacts" "$work" "${seeds[$target]}"; then
    echo "fuzz.sh: $target found a fault; inputs in $artifacts" >&2
    status=1
  fi
done
exit $status
