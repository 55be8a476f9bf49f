// Older-engine synchronizations as the host's sync lookups see them: references of a
// volume carry "CopyType", "SyncType" and both ends; the inventory comes from the
// configuration.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimModelTest.h"

using namespace simtest;
using nlohmann::json;

namespace {

const std::string kLsiNs = "root/LsiArray13";

json syncJson() {
    return json::parse(R"({
      "preset": "LSISSI",
      "arrays": [ {
        "id": "600A0980006CE2B2000000005A1B2C3D",
        "pools": [ { "label": "DG1" } ],
        "volumes": [ { "label": "src", "pool": "DG1" }, { "label": "lone", "pool": "DG1" },
                     { "label": "clone1", "kind": "clone" }, { "label": "clone2", "kind": "clone" },
                     { "label": "snap1", "kind": "snapshot" } ],
        "syncs": [ { "type": "snapshot", "source": "src", "target": "snap1" },
                   { "type": "volumeCopy", "source": "src", "target": "clone1", "copyType": 5 },
                   { "type": "volumeCopy", "source": "clone1", "target": "clone2", "syncType": 6 } ]
      } ] })");
}

cim::CIMObjectPath volumeIn(sim::Provider& p, const std::string& label) {
    return volume(p, label, kLsiNs);
}

// The same volume whatever host or namespace the reference text carries.
bool refersTo(const std::string& text, cim::CIMObjectPath expected) {
    cim::CIMObjectPath got(text);
    got.setHost("");
    got.setNameSpace(cim::CIMNamespaceName());
    expected.setNameSpace(cim::CIMNamespaceName());
    return got == expected;
}

TEST(SimSync, ReferencesOfAVolumeCarryTypesAndBothEnds) {
    sim::Provider p(sim::Config::fromJson(syncJson()));
    cim::CIMObjectPath src = volumeIn(p, "src");
    auto refs = refNames(src, "CIM_StorageSynchronized");
    refs.methodName = cim::xml::kReferences;
    refs.nameSpace = kLsiNs;
    auto syncs = ok(p, refs).instances;
    ASSERT_EQ(syncs.size(), 2u);

    const cim::CIMInstance& legacy = syncs[0];
    EXPECT_EQ(legacy.getClassName().getString(), "LSISSI_StorageSynchronized");
    EXPECT_EQ(prop(legacy, "CopyType"), "4");
    EXPECT_EQ(prop(legacy, "SyncType"), "7") << "a snapshot by default";
    EXPECT_TRUE(refersTo(prop(legacy, "SystemElement"), src));
    EXPECT_TRUE(refersTo(prop(legacy, "SyncedElement"), volumeIn(p, "snap1")));
    // The path of a reference names the same association.
    EXPECT_TRUE(refersTo(key(legacy.getPath(), "SyncedElement"), volumeIn(p, "snap1")));

    const cim::CIMInstance& copy = syncs[1];
    EXPECT_EQ(copy.getClassName().getString(), "LSISSI_VolumeCopySynchronized");
    EXPECT_EQ(prop(copy, "CopyType"), "5");
    EXPECT_EQ(prop(copy, "SyncType"), "8") << "a clone by default";
    EXPECT_TRUE(refersTo(prop(copy, "SyncedElement"), volumeIn(p, "clone1")));

    // A configured SyncType wins, and enumerating the base class finds all three.
    auto all = ok(p, enumInstances("CIM_StorageSynchronized", {}, true, kLsiNs)).instances;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(prop(all[2], "SyncType"), "6");
}

TEST(SimSync, ReferenceNamesFindBothDirectionsAndRespectTheRole) {
    sim::Provider p(sim::Config::fromJson(syncJson()));
    cim::CIMObjectPath clone1 = volumeIn(p, "clone1");
    auto refName = [&](const cim::CIMObjectPath& v, const std::string& role) {
        auto q = refNames(v, "CIM_StorageSynchronized", role);
        q.nameSpace = kLsiNs;
        return ok(p, q).instanceNames;
    };
    // clone1 is the copy of src and the source of clone2.
    auto both = refName(clone1, "");
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(refersTo(key(both[0], "SyncedElement"), clone1));
    EXPECT_TRUE(refersTo(key(both[1], "SystemElement"), clone1));
    auto asSource = refName(clone1, "SystemElement");
    ASSERT_EQ(asSource.size(), 1u);
    EXPECT_TRUE(refersTo(key(asSource[0], "SyncedElement"), volumeIn(p, "clone2")));
    EXPECT_TRUE(refName(volumeIn(p, "lone"), "").empty());

    // Each name resolves to an instance with its SyncType.
    auto inst = ok(p, getInstance(asSource[0], kLsiNs)).instances;
    ASSERT_EQ(inst.size(), 1u);
    EXPECT_EQ(prop(inst[0], "SyncType"), "6");
    // As hosts build the path: prefix + "_VolumeCopySynchronized", the source's host,
    // no namespace, keys SystemElement then SyncedElement holding the path texts.
    cim::CIMObjectPath src = volumeIn(p, "src");
    src.setHost("10.0.0.5:5988");
    cim::CIMObjectPath built(
        "10.0.0.5:5988", cim::CIMNamespaceName(), "LSISSI_VolumeCopySynchronized",
        {cim::CIMKeyBinding("SystemElement", src.toString(), cim::CIMKeyBinding::REFERENCE),
         cim::CIMKeyBinding("SyncedElement", clone1.toString(), cim::CIMKeyBinding::REFERENCE)});
    auto r = p.handle(getInstance(built, kLsiNs));
    ASSERT_FALSE(r.isError()) << r.errorDescription;
    EXPECT_EQ(prop(r.instances.at(0), "CopyType"), "5");
}

}  // namespace
