#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for a fixed budget.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS: time per target (default 600). TARGET: decoder, plist, query,
# text, vcard (default all). On macOS the "fuzz-mac" preset (Homebrew's LLVM)
# is used. New inputs go to build/fuzz/corpus/<target>, seeded from the
# committed corpus in fuzz/corpus/<target>, which is only read. A crash, leak
# or sanitizer report is written to build/fuzz/findings/ and makes the script
# fail. Prints each target's executions and findings.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(decoder plist query text vcard)

# Apple's clang has no libFuzzer: on macOS the preset uses Homebrew's LLVM.
preset=fuzz
[ "$(uname -s)" = Darwin ] && preset=fuzz-mac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

status=0
mkdir -p build/fuzz/findings
for target in "${targets[@]}"; do
    binary=build/$preset/fuzz/orlune_fuzz_$target
    [ -x "$binary" ] || { echo "fuzz: no target '$target'" >&2; exit 2; }
    work=build/fuzz/corpus/$target
    mkdir -p "$work"
    extra=()
    [ -f "fuzz/$target.dict" ] && extra+=("-dict=fuzz/$target.dict")
    log=build/fuzz/$target.log
    echo "fuzz: $target for ${seconds}s"
    # ${a[@]+"${a[@]}"}: an empty array is "unbound" to macOS's bash 3.2.
    if "$binary" "$work" "fuzz/corpus/$target" ${extra[@]+"${extra[@]}"} \
        -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="build/fuzz/findings/$target-" >"$log" 2>&1; then
        result="no findings"
    else
        result="FINDING (see $log and build/fuzz/findings/)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz: $target: ${runs:-?} executions, $result"
done
exit $status
