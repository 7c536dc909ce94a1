#!/usr/bin/env bash
# The npm packages the live-data tests use (seisplotjs, ajv), as the lock file
# in tests/live pins them; Node.js and npm from Debian when missing.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
cd "$scripts/../tests/live"
[ -d node_modules/seisplotjs ] && [ -d node_modules/ajv ] && exit 0
command -v npm >/dev/null || "$scripts/install-deps.sh" nodejs npm
npm ci --no-audit --no-fund --loglevel=error
