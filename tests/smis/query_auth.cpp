// With the provider rejecting the password, no lookup of the access layer may answer
// "none": it raises, answers -1, or answers empty with LookupFailed() set. The
// snapshot operations take "none" for "deleted" and drop the snapshot.
#include <gtest/gtest.h>

#include <functional>

#include "query_fixture.h"

namespace querytest {
namespace {

enum class Answer { Unknown, None, Found };

const char* Name(Answer a) {
    return a == Answer::Unknown ? "unknown" : a == Answer::None ? "none" : "found";
}

class QueryAuth : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        systemPath = util().GetSystemObjPathByNameProp(conn(), systemName);
        volumePath = util().GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID",
                                             volumes[0].uuid, systemName);
        ASSERT_FALSE(systemPath.getClassName().isNull());
        ASSERT_FALSE(volumePath.getClassName().isNull());
        volumeText = volumePath.toString();
    }

    Answer OfPath(RkCimUtil& u, const cim::CIMObjectPath& p) {
        if (!p.getClassName().isNull()) return Answer::Found;
        return u.LookupFailed() ? Answer::Unknown : Answer::None;
    }
    Answer OfText(RkCimUtil& u, const std::string& text) {
        if (!text.empty()) return Answer::Found;
        return u.LookupFailed() ? Answer::Unknown : Answer::None;
    }
    template <typename T>
    Answer OfList(RkCimUtil& u, const std::vector<T>& list) {
        if (!list.empty()) return Answer::Found;
        return u.LookupFailed() ? Answer::Unknown : Answer::None;
    }
    // found: the lookup's "found" value; anything else is "none" unless marked failed.
    Answer OfInt(RkCimUtil& u, int rc, int found) {
        if (rc == found) return Answer::Found;
        return u.LookupFailed() ? Answer::Unknown : Answer::None;
    }
    Answer OfExistence(int rc) {
        return rc == 1 ? Answer::Found : rc == 0 ? Answer::None : Answer::Unknown;
    }

    cim::CIMObjectPath systemPath;
    cim::CIMObjectPath volumePath;
    std::string volumeText;
};

TEST_F(QueryAuth, RejectedPasswordIsNeverAnAbsence) {
    using Lookup = std::function<Answer(RkCimUtil&, RkCimConnection&)>;
    const std::string uuid = volumes[0].uuid;
    const std::string& sys = systemName;
    cim::Array<cim::String> uuids{uuid};
    const cim::CIMObjectPath unknownVendorTarget("root/x:XYZ_StorageVolume.DeviceID=\"1\"");
    const std::vector<std::pair<const char*, Lookup>> rows = {
        {"GetObjPathByPropName",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetObjPathByPropName(c, "CIM_StorageVolume", "Name", uuid));
         }},
        {"GetObjPathByPropName with system",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(
                 u, u.GetObjPathByPropName(c, sys, "CIM_StorageVolume", "Name", uuid, false));
         }},
        {"GetObjPathByPropNamev2",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetObjPathByPropNamev2(c, sys, "CIM_StorageVolume", "Name", uuid));
         }},
        {"GetObjPathByProp",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetObjPathByProp(c, "CIM_StorageVolume", "DeviceID", uuid, sys));
         }},
        {"GetObjPathListByPropNameList",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfList(
                 u, u.GetObjPathListByPropNameList(c, "CIM_StorageVolume", "Name", uuids, sys));
         }},
        {"GetCIMProp by text",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetCIMProp(c, volumeText, "Name"));
         }},
        {"GetCIMProp by path",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetCIMProp(c, volumePath, "Name"));
         }},
        {"GetCIMPropList",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::map<std::string, std::string> props{{"Name", ""}};
             return OfInt(u, u.GetCIMPropList(c, volumePath, props), 1);
         }},
        {"CheckInstanceExistence by path",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string none;
             return OfExistence(u.CheckInstanceExistence(c, systemName, volumeText, none));
         }},
        {"CheckInstanceExistence by path and UUID",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string verify = uuid;
             return OfExistence(u.CheckInstanceExistence(c, systemName, volumeText, verify));
         }},
        {"CheckInstanceExistence by UUID",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string byName = uuid, none;
             return OfExistence(u.CheckInstanceExistence(c, systemName, byName, none));
         }},
        {"GetSystemObjPathByNameProp",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetSystemObjPathByNameProp(c, sys));
         }},
        {"GetSystemObjPathString",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetSystemObjPathString(c, sys));
         }},
        {"ValidateSystemName",
         [&](RkCimUtil& u, RkCimConnection& c) {
             cim::CIMObjectPath out;
             return OfInt(u, u.ValidateSystemName(c, sys, "CIM_StorageVolume", out), 1);
         }},
        {"GetSystemServiceObject",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetSystemServiceObject(c, systemPath, "CIM_ReplicationService"));
         }},
        {"GetCtlrservicePath",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetCtlrservicePath(c, systemPath));
         }},
        {"GetDGByName",
         [&](RkCimUtil& u, RkCimConnection& c) { return OfText(u, u.GetDGByName(c, sys, "DG1")); }},
        {"GetVendorByName",
         [&](RkCimUtil& u, RkCimConnection& c) { return OfText(u, u.GetVendorByName(c, sys)); }},
        {"GetVendorNamespaceByName",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetVendorNamespaceByName(c, sys));
         }},
        {"GetVolObjPathByUUID",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetVolObjPathByUUID(c, uuid, sys));
         }},
        {"GetVolObjPathByUUID with caching",
         [&](RkCimUtil& u, RkCimConnection& c) {
             TalonConfig caching("RK_SMIS_CACHE_VOLUME_INSTANCES = 1\n");
             return OfText(u, u.GetVolObjPathByUUID(c, uuid, sys));
         }},
        {"GetEternusTPPByName",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetEternusTPPByName(c, sys, "TPP1"));
         }},
        {"GetObjPathByAssnProp",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetObjPathByAssnProp(c, volumePath, "CIM_AllocatedFromStoragePool",
                                                     "", "ElementName", "DG1"));
         }},
        {"GetSystemObjPathListByPropList",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfList(u, u.GetSystemObjPathListByPropList(c, "CIM_StorageVolume", sys));
         }},
        {"GetSystemObjPathByProp",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetSystemObjPathByProp(c, "CIM_StorageVolume", sys));
         }},
        {"GetIBMSVCVolObjPathByUUID",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfText(u, u.GetIBMSVCVolObjPathByUUID(c, uuid));
         }},
        {"GetPreferredNodeForIBMSVC",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetPreferredNodeForIBMSVC(c, sys + ":1"));
         }},
        {"GetVolumeObjectPath by name",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(u, u.GetVolumeObjectPath(c, sys, uuid));
         }},
        {"GetSyncPath by references",
         [&](RkCimUtil& u, RkCimConnection& c) {
             return OfPath(
                 u, u.GetSyncPath(c, nameSpace, sys, unknownVendorTarget, unknownVendorTarget));
         }},
        {"GetSyncPathFromSource",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string sync, target, name;
             return OfInt(u, u.GetSyncPathFromSource(c, volumeText, sync, target, name), 0);
         }},
        {"GetSyncPathFromSourceBySyncType",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string sync, target;
             return OfInt(u, u.GetSyncPathFromSourceBySyncType(c, 4, volumeText, sync, target), 0);
         }},
        {"GetAllSyncPathFromSource",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::map<std::string, std::string> targets;
             return OfInt(u, u.GetAllSyncPathFromSource(c, volumeText, "", targets), 0);
         }},
        {"GetDelSyncPathFromSource",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string sync, target, name;
             return OfInt(u, u.GetDelSyncPathFromSource(c, volumeText, sync, target, name, ""), 0);
         }},
        {"GetSyncPathFromTarget",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string sync, source, name;
             return OfInt(u, u.GetSyncPathFromTarget(c, volumeText, sync, source, name), 0);
         }},
        {"GetSyncPathFromTargetAndSource",
         [&](RkCimUtil& u, RkCimConnection& c) {
             std::string sync;
             return OfInt(u, u.GetSyncPathFromTargetAndSource(c, volumeText, volumeText, sync), 0);
         }},
    };

    for (const auto& row : rows) {
        // A fresh connection and the same one after its first rejection answer alike.
        Device bad(*sim);
        RkCimomParams p;
        p.address = "127.0.0.1";
        p.port = sim->httpPort();
        p.nameSpace = nameSpace;
        p.userName = sim->user();
        p.password = "not-the-password";
        bad.conn.GetCimom().SetCimom(p);
        ASSERT_EQ(bad.conn.ConnectCimom(), 0);
        for (int round = 0; round < 2; ++round) {
            Answer got = Answer::Unknown;
            try {
                got = row.second(bad.util, bad.conn);
            } catch (const cim::Exception&) {
                got = Answer::Unknown;  // raised: the caller sees the failure
            }
            EXPECT_EQ(got, Answer::Unknown)
                << row.first << " (call " << round + 1 << ") answered " << Name(got);
        }
        EXPECT_LE(bad.info.setErrorInfoCalls(), 1) << row.first << ": reported once at most";
    }
}

}  // namespace
}  // namespace querytest
