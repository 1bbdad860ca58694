#!/usr/bin/env bash
# Installs the dependencies, builds Orlune (Release) and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
