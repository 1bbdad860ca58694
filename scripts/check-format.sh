#!/usr/bin/env bash
# Checks that the sources are formatted as .clang-format says, changing
# nothing: prints each place that differs and fails when there is one.
# With arguments, checks those files; without, every C++ and Objective-C++
# source the repository tracks. To format a file: clang-format -i FILE.
# (Versions of clang-format differ slightly; CI's is Debian's.)
set -euo pipefail
cd "$(dirname "$0")/.."

clang-format --version
if (($# > 0)); then
    clang-format --dry-run --Werror "$@"
    echo "check-format: $# files formatted as .clang-format says"
else
    git ls-files -z '*.cpp' '*.hpp' '*.h' '*.mm' | xargs -0 clang-format --dry-run --Werror
    echo "check-format: every source formatted as .clang-format says"
fi
