#!/usr/bin/env bash
# Installs the dependencies, builds the project and runs the main job: rksnap demo,
# the whole life of a snapshot through the plug-in against a simulated array.
# Without rksnap (a partial build) it explores the simulator with cimq instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then bash scripts/setup.sh; fi
cmake --preset default -G Ninja >/dev/null
cmake --build build/default -j"$(nproc)"

bin=build/default/bin
if [ -x "$bin/rksnap" ]; then
  exec "$bin/rksnap" demo "$@"
fi

work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
umask 077
printf 'demo-%s\n' "$RANDOM$RANDOM" >"$work/password"

"$bin/smis-sim" --http-port 0 --https-port -1 --user demo --password-file "$work/password" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 1 100); do
  url=$(grep -m1 -o 'http://[^ ]*' "$work/sim.out" || true)
  [ -n "$url" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/sim.err" >&2; exit 1; }
  sleep 0.1
done
[ -n "$url" ] || { echo "smis-sim did not start" >&2; exit 1; }
echo "== smis-sim listening on $url"

cimq() { "$bin/cimq" --url "$url" -u demo --password-file "$work/password" "$@"; }

echo "== Namespaces listed by the interop namespace"
cimq -n interop ein CIM_Namespace
ns=root/netapp/santricity
echo "== Storage systems in $ns"
cimq -n "$ns" ein CIM_ComputerSystem
echo "== Volumes (name, label, size in blocks)"
cimq -n "$ns" --json ei CIM_StorageVolume -p Name -p ElementName -p NumberOfBlocks
first=$(cimq -n "$ns" ein CIM_StorageVolume | head -n 1)
echo "== One volume: $first"
cimq -n "$ns" gi "$first"
echo "== Its storage pool"
cimq -n "$ns" an "$first" --assoc-class CIM_AllocatedFromStoragePool
echo "== The services of the array"
system=$(cimq -n "$ns" ein CIM_ComputerSystem | head -n 1)
cimq -n "$ns" an "$system" --assoc-class CIM_HostedService
