#!/usr/bin/env bash
# Installs the dependencies, builds what the main job needs and runs it: rksnap demo,
# the whole life of a snapshot through the plug-in against a simulated array.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; fi
cmake --preset default -G Ninja >/dev/null
cmake --build build/default -j"$(nproc)" --target rksnap rkso_eseries rkhost smis-sim cimq
exec build/default/bin/rksnap demo "$@"
