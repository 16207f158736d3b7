#!/usr/bin/env bash
# Runs every benchmark in turn (make bench). Each prints its own table.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

"$here/run-download.sh"
echo
"$here/run-update-path.sh"
echo
"$here/run-idle.sh"
