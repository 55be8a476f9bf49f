// Input: lines "<configured prefix>\n<endpoint namespace>\n<path1>\n<path2>\n<path3>\n<path4>";
// an empty first line configures no prefix. replaceClassPrefix must never throw, must
// answer the configured prefix or "", and must leave every argument alone when it
// answers "" or when no prefix is configured.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "eseries/LSISnapshot.h"
#include "rkso/EvDebug.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EvDebug::setLogFile("off");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string lines[6];
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && n < 5) {
            ++n;
            continue;
        }
        lines[n] += static_cast<char>(data[i]);
    }
    testsupport::FakeSnapInfo info;
    if (!lines[0].empty()) info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", lines[0]);
    LSISnapshot snap;
    snap.SetLogger(&info);
    snap.m_CimConnection.GetCimom().SetNameSpace(lines[1]);
    snap.m_ServicePath = "service";
    std::string p[4] = {lines[2], lines[3], lines[4], lines[5]};
    const std::string result = snap.replaceClassPrefix(p[0], p[1], p[2], p[3]);

    const bool untouched =
        p[0] == lines[2] && p[1] == lines[3] && p[2] == lines[4] && p[3] == lines[5];
    if (lines[0].empty() || result.empty()) require(untouched);
    if (!lines[0].empty()) require(result.empty() || result == lines[0]);
    // Only the service member was set, and only a rewritten first path may replace it.
    require(snap.m_ServicePath == "service" || snap.m_ServicePath == p[0]);
    require(snap.m_SourceDevPath.empty() && snap.m_TargetDGPath.empty() &&
            snap.m_TargetDevPath.empty());
    return 0;
}
