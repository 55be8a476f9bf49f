#!/usr/bin/env bash
# Mutation check: puts one deliberate one-line fault at a time into the sources, rebuilds
# the test programs that own that code and runs them; every fault must make a test fail.
#   scripts/mutation.sh [name-filter]
# BUILD_DIR (default build/default) is configured with the default preset when missing.
# Each source is restored after its run, also on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
filter=${1:-}
[ -f "$build/build.ninja" ] || cmake --preset default -G Ninja >/dev/null

# name <TAB> file <TAB> exact text (one place in the file) <TAB> replacement <TAB> test programs
mutants=$(cat <<'TABLE'
cim-no-lt-escape	src/cim/src/xml/Encoder.cpp	out += "&lt;";	out += "<";	test_cim
cim-no-backslash-escape	src/cim/src/CIMObjectPath.cpp	if (value[i] != '"' && value[i] != '\\') continue;	if (value[i] != '"') continue;	test_cim
cim-size-limit-off-by-one	src/cim/src/xml/ResponseStream.cpp	if (im.fed > im.limits.maxBytes)	if (im.fed > im.limits.maxBytes + 1)	test_cim
cim-percent-decode-off-by-one	src/cim/src/xml/HttpHeaders.cpp	i + 2 < text.size()	i + 3 < text.size()	test_cim
client-message-id-unchecked	src/cim/client/CIMClient.cpp	if (response.messageId != request.messageId) {	if (false) {	cimclient_tests
client-4xx-taken-as-success	src/cim/client/HttpTransport.cpp	    if (r.status < 200 || r.status > 299) {	    if (r.status < 200 || r.status > 499) {	cimclient_tests
client-chunked-body-unlimited	src/cim/client/HttpResponseReader.cpp	if (m_bodyBytes > m_maxBody)	if (false)	cimclient_tests
client-401-message-dropped	src/cim/client/HttpTransport.cpp	msg += ": the server rejected the credentials";	msg += "";	cimclient_tests
smis-one-retry-less	src/smis/RkCimConnection.cpp	attempts > static_cast<int16_t>(m_Cimom.GetMaxRetries())	attempts >= static_cast<int16_t>(m_Cimom.GetMaxRetries())	test_smis
smis-killed-job-not-final	src/smis/RkSmisJob.cpp	state == RK_JOB_KILLED ||	false ||	test_smis
smis-unread-job-succeeds	src/smis/RkSmisJob.cpp	known == kState ? state : RK_JOB_EXCEPTION;	known == kState ? state : RK_JOB_COMPLETED;	test_smis
smis-port-zero-accepted	src/smis/RkCimom.cpp	if (params.port > 0 && params.port <= 65535)	if (params.port >= 0 && params.port <= 65535)	test_smis
smis-missing-volume-never-refreshed	src/smis/RkCimUtilVolumes.cpp	if (!found && caching && !filledHere) {	if (false) {	test_smis
engine-item-value-off-by-one	src/engine/ItemText.cpp	std::min(end - colon - 1, kMaxItemValueChars)	std::min(end - colon, kMaxItemValueChars)	test_engine
engine-secret-item-logged	src/engine/ItemText.cpp	 || rkso::isSecretItemName(itemNameBefore(text, colon))	 || false	test_engine
engine-short-unique-id-taken	src/engine/UniqueId.cpp	if (seps.size() < (pit ? 8u : 7u)) {	if (seps.size() < (pit ? 7u : 7u)) {	test_engine
engine-configured-namespace-ignored	src/engine/ArrayParams.cpp	if (!configured.empty()) nameSpace = configured;	if (configured.empty()) nameSpace = configured;	test_engine_sim
engine-pit-unique-id-field-count	src/engine/UniqueId.cpp	if (seps.size() == 9) {	if (seps.size() == 8) {	test_engine
engine-upper-hex-f-rejected	src/engine/Inquiry.cpp	if (c >= 'A' && c <= 'F') return c - 'A' + 10;	if (c >= 'A' && c < 'F') return c - 'A' + 10;	test_engine_sim
engine-port-65536-accepted	src/engine/ArrayParams.cpp	if (port < 1 || port > 65535) {	if (port < 1 || port > 65536) {	test_engine_sim
engine-short-inquiry-accepted	src/engine/Inquiry.cpp	if (received < kArrayIdOffset + kIdBytes) return false;	if (received < kArrayIdOffset + kIdBytes - 1) return false;	test_engine_sim
sim-401-becomes-403	tools/smis-sim/src/Server.cpp	res.status = 401;	res.status = 403;	test_sim
sim-any-password	tools/smis-sim/src/Server.cpp	bool passOk = sameSecret(decoded.substr(colon + 1), options.password);	bool passOk = true;	test_sim
sim-missing-method-wrong-status	tools/smis-sim/src/CimHttp.cpp	if (!headers.method) return reject(400,	if (!headers.method) return reject(500,	test_sim
sim-pit-group-one-too-many	tools/smis-sim/model/src/ReplicationService.cpp	if (count >= c.rules.maxPiTsPerGroup)	if (count > c.rules.maxPiTsPerGroup)	test_sim test_simmodel
TABLE
)

restore() {
  if [ -n "${saved:-}" ] && [ -f "$saved" ]; then cp "$saved" "$current" && rm -f "$saved"; fi
  saved=
}
trap restore EXIT
# An interrupted run must not go on to the next fault with this one still applied.
trap 'exit 130' INT TERM

caught=0
missed=0
while IFS=$'\t' read -r name file old new programs; do
  [ -n "$filter" ] && [[ "$name" != *"$filter"* ]] && continue
  current=$file
  saved=$(mktemp)
  cp "$file" "$saved"
  if ! python3 - "$file" "$old" "$new" <<'PY'; then
import sys
path, old, new = sys.argv[1:]
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"{path}: the text to change is there {text.count(old)} times: {old}")
open(path, "w").write(text.replace(old, new))
PY
    restore
    echo "SETUP $name"
    missed=$((missed + 1))
    continue
  fi
  line=$(grep -nF -- "$new" "$file" | head -1 | cut -d: -f1)
  verdict="MISSED"
  by=""
  # shellcheck disable=SC2086
  # A failed build counts as caught only when it fails again without the cache (a stale
  # cache entry or a busy executable is not the fault's doing).
  if ! cmake --build "$build" --target $programs >"$build/mutation-$name.log" 2>&1 &&
    ! CCACHE_DISABLE=1 cmake --build "$build" --target $programs >>"$build/mutation-$name.log" 2>&1; then
    verdict="CAUGHT"
    by="(does not build)"
  else
    for p in $programs; do
      if ! "$build/bin/$p" --gtest_fail_fast --gtest_brief=1 >>"$build/mutation-$name.log" 2>&1; then
        verdict="CAUGHT"
        by=$(grep -m1 -oE '\[  FAILED  \] [A-Za-z0-9_./]+' "$build/mutation-$name.log" | sed 's/.*\] //')
        by="$p ${by:-(crashed)}"
        break
      fi
    done
  fi
  restore
  echo "$verdict $name $file:$line $by"
  if [ "$verdict" = CAUGHT ]; then caught=$((caught + 1)); else missed=$((missed + 1)); fi
done <<<"$mutants"

# Leave the test programs built from the real sources.
# shellcheck disable=SC2086
cmake --build "$build" --target $(cut -f5 <<<"$mutants" | tr ' ' '\n' | sort -u) >/dev/null
echo "mutation: $caught caught, $missed missed"
[ "$missed" -eq 0 ]
