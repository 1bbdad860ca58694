#!/usr/bin/env bash
# Runs clang-tidy with the checks in .clang-tidy over the core's sources, or
# over the files given, with the compile commands of the release build
# (scripts/test.sh makes it; ORLUNE_TIDY_BUILD names another build folder).
# Prints each finding and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ORLUNE_TIDY_BUILD:-build/release}
if [[ ! -f "$build/compile_commands.json" ]]; then
    echo "tidy: $build/compile_commands.json is missing: build first (scripts/test.sh)" >&2
    exit 1
fi
jobs=$(getconf _NPROCESSORS_ONLN)
started=$SECONDS
if (($# > 0)); then
    printf '%s\0' "$@"
else
    git ls-files -z 'OrluneCore/*.cpp'
fi | xargs -0 -P "$jobs" -n 4 clang-tidy --quiet -p "$build" --extra-arg=-Wno-unknown-warning-option
echo "tidy: clean in $((SECONDS - started))s"
