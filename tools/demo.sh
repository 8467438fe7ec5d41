#!/usr/bin/env bash
# Runs tools/demo.py with the test environment up; `make demo` calls it
# through tools/with-wine.sh.
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "$here/demo.py"
