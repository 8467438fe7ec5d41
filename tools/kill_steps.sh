#!/usr/bin/env bash
# The whole crash test (make crash-test): every scenario of
# tests/e2e/test_kill_steps.py, each killed at every durable step, against the
# local content server. Run inside tools/with-wine.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
bin=$ZELTO_WIN
state=$bin/content
python3 tools/content_server.py start --state "$state" --root "$state/www" --root tests/data/repository \
  --root "$bin/published"
trap 'python3 tools/content_server.py stop --state "$state"' EXIT
ZELTO_KILL_ALL=1 ZELTO_BIN=$bin ZELTO_SOURCE=$PWD python3 tests/e2e/test_kill_steps.py
