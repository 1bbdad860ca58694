#!/usr/bin/env bash
# Runs the SDK-client conformance test with NODE (first argument). The
# packages must be installed: scripts/bootstrap.sh runs `npm ci` here.
set -euo pipefail
node=$1
cd "$(dirname "$0")"
if [ ! -d node_modules/@modelcontextprotocol/sdk ]; then
    echo "conformance: the MCP SDK is not installed in tests/mcp; run scripts/bootstrap.sh" >&2
    exit 1
fi
exec "$node" --test conformance.test.mjs
