#!/usr/bin/env bash
# Installs the dependencies, builds the project and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; fi
cmake --preset default -G Ninja >/dev/null
cmake --build build/default -j"$(nproc)"
exec build/default/bin/rksnap demo "$@"
