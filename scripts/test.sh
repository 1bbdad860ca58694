#!/usr/bin/env bash
# Installs the dependencies, builds Orlune (Release) and runs every test suite.
# ORLUNE_WERROR=ON makes every compiler warning an error (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset release -DORLUNE_WERROR="${ORLUNE_WERROR:-OFF}"
cmake --build --preset release
ctest --preset release
