// Volume lookup by UUID with and without the process-wide cache.
#include <condition_variable>

#include "smis_fixture.h"

namespace smistest {

const char* const kCachingOn = "RK_SMIS_CACHE_VOLUME_INSTANCES = 1\n";

class QueryVolumes : public QueryTest {
  protected:
    size_t Enumerations() { return CountRequests(*sim, "EnumerateInstances", "CIM_StorageVolume"); }
    std::string Lookup(const std::string& uuid, const std::string& system) {
        return util().GetVolObjPathByUUID(conn(), uuid, system);
    }
};

// Cached: one fetch; a miss costs one refresh (none right after the fill) that finds new ones.
TEST_F(QueryVolumes, WithCachingTheListIsFetchedOnceAndRefreshedForAMiss) {
    TalonConfig talon(kCachingOn);
    const std::string missing = "6000000000000000000000000000F00D";
    EXPECT_EQ(Lookup(missing, systemName), "");
    EXPECT_FALSE(Lookup(volumes[0].uuid, systemName).empty());
    EXPECT_FALSE(Lookup(volumes[7].uuid, systemName).empty());
    EXPECT_EQ(Enumerations(), 1u);
    EXPECT_EQ(RkCimUtil::VolumeCacheSize(), volumes.size());
    EXPECT_EQ(Lookup(missing, systemName), "");
    EXPECT_EQ(Lookup(missing, ""), "");
    EXPECT_EQ(Enumerations(), 3u);
    const std::string uuid = AddVolume(*sim, "new_after_fill");
    std::string found = Lookup(uuid, systemName);
    EXPECT_EQ(util().GetPropByObjPath(cim::CIMObjectPath(found), "DeviceID"), uuid);
    EXPECT_EQ(Enumerations(), 4u);
    EXPECT_EQ(RkCimUtil::VolumeCacheSize(), volumes.size() + 1);
    EXPECT_EQ(count(dev->info, "Acquired CimUtil lock"), 6);
    EXPECT_EQ(count(dev->info, "Released CimUtil lock"), 6);
}

// One list per provider: B never answers from A's volumes; A's list survives B's lookups.
TEST_F(QueryVolumes, TheCacheKeepsOneListPerProvider) {
    TalonConfig talon(kCachingOn);
    sim::Config otherConfig = SimConfig();
    sim::Array& other = otherConfig.arrays[0];
    other.id = sim::makeArrayId("other-provider");
    other.mappings.clear();
    other.hosts.clear();
    other.hostGroups.clear();
    other.volumes.resize(2);
    for (sim::Volume& v : other.volumes) v.uuid = sim::makeVolumeUuid("other:" + v.label);
    sim::TestServer b(otherConfig, testsupport::PlainHttp());
    Device onB(b);
    ASSERT_EQ(onB.conn.ConnectCimom(), 0);
    const std::string onlyOnB = b.provider().currentState().arrays[0].volumes[1].uuid;
    EXPECT_FALSE(Lookup(volumes[0].uuid, "").empty());
    EXPECT_EQ(onB.util.GetVolObjPathByUUID(onB.conn, volumes[0].uuid, ""), "")
        << "a volume of A is not on B";
    EXPECT_FALSE(onB.util.LookupFailed()) << "B said so";
    EXPECT_FALSE(onB.util.GetVolObjPathByUUID(onB.conn, onlyOnB, "").empty());
    EXPECT_EQ(Lookup(onlyOnB, ""), "") << "a volume of B is not on A";
    EXPECT_FALSE(Lookup(volumes[1].uuid, "").empty());
    EXPECT_EQ(CountRequests(b, "EnumerateInstances", "CIM_StorageVolume"), 1u);
    EXPECT_EQ(Enumerations(), 2u) << "A's list, and one refresh for B's volume";
    EXPECT_EQ(RkCimUtil::VolumeCacheSize(), volumes.size() + 2);
}

TEST_F(QueryVolumes, AFailedReadIsNoAbsence) {
    const std::string& uuid = volumes[0].uuid;
    for (const char* caching : {"", kCachingOn}) {
        SCOPED_TRACE(*caching ? "caching" : "no caching");
        TalonConfig talon(caching);
        RkCimUtil::ClearVolumeCache();
        sim->failHttp(500, -1, RequestKey{"EnumerateInstances", "", ""});
        EXPECT_EQ(Lookup(uuid, systemName), "");
        EXPECT_TRUE(util().LookupFailed());
        EXPECT_EQ(RkCimUtil::VolumeCacheSize(), 0u) << "no list is kept from a failed read";
        sim->reset();
        EXPECT_FALSE(Lookup(uuid, systemName).empty());
        EXPECT_FALSE(util().LookupFailed());
        EXPECT_EQ(Lookup("6000000000000000000000000000F00D", systemName), "");
        EXPECT_FALSE(util().LookupFailed()) << "the provider's own answer";
    }
}

// A second array holding a volume with the UUID of a volume of the first.
class QueryVolumesTwoArrays : public QueryVolumes {
  protected:
    sim::Config Config() override {
        sim::Config c = SimConfig();
        sim::Array second = c.arrays[0];
        second.id = "600A0980006CE2B2000000005A1B2C99";
        second.volumes.clear();
        second.mappings.clear();
        second.hosts.clear();
        second.hostGroups.clear();
        c.arrays.push_back(second);
        return c;
    }
};

TEST_F(QueryVolumesTwoArrays, UuidOnAnotherSystemIsNotTaken) {
    const std::string secondSystem = sim->provider().currentState().arrays[1].id;
    const std::string& uuid = volumes[5].uuid;
    EXPECT_EQ(Lookup(uuid, secondSystem), "");
    EXPECT_TRUE(logged("For the given UUID [" + uuid + "], System name given [" + secondSystem +
                       "] but actual system name [" + systemName + "]"));
    // The same UUID on the second array: that one is taken, the first is passed over.
    AddVolume(*sim, "twin", 1, uuid);
    std::string found = Lookup(uuid, secondSystem);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(util().GetPropByObjPath(cim::CIMObjectPath(found), "SystemName"), secondSystem);
    std::string first = Lookup(uuid, systemName);
    EXPECT_EQ(util().GetPropByObjPath(cim::CIMObjectPath(first), "SystemName"), systemName);
}

// Many devices look up at once while volumes appear; each device looks up each new one.
class QueryVolumesConcurrent : public QueryVolumes {
  protected:
    // As many devices as hosts run lookups for at once.
    static constexpr int kThreads = 16, kNewVolumes = 8,
                         kLookups = kThreads * (2 * kNewVolumes + 1);
    void Run() {
        std::mutex mu;
        std::condition_variable cv;
        std::vector<std::string> created;  // grows; every device walks it in order
        bool done = false;
        std::atomic<int> misses{0}, lookups{0};
        auto lookUp = [&](Device& d, const std::string& uuid) {
            misses += d.util.GetVolObjPathByUUID(d.conn, uuid, systemName).empty();
            ++lookups;
        };
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&, t] {
                Device d(*sim);
                if (d.conn.ConnectCimom() != 0) return void(misses += 1000);
                for (size_t next = 0;;) {
                    // A base volume between new ones keeps the lookups overlapping.
                    lookUp(d, volumes[(next + static_cast<size_t>(t)) % volumes.size()].uuid);
                    std::unique_lock<std::mutex> lock(mu);
                    cv.wait(lock, [&] { return done || next < created.size(); });
                    if (next >= created.size()) break;
                    std::string uuid = created[next++];
                    lock.unlock();
                    lookUp(d, uuid);
                }
            });
        }
        for (int i = 0; i <= kNewVolumes; ++i) {
            std::string uuid = i < kNewVolumes ? AddVolume(*sim, "conc_" + std::to_string(i)) : "";
            std::lock_guard<std::mutex> lock(mu);
            if (i < kNewVolumes) created.push_back(uuid);
            done = i == kNewVolumes;
            cv.notify_all();
        }
        for (auto& w : workers) w.join();
        EXPECT_EQ(misses.load(), 0);
        EXPECT_EQ(lookups.load(), kLookups);
    }
};

TEST_F(QueryVolumesConcurrent, EveryVolumeIsFoundWithCaching) {
    TalonConfig talon(kCachingOn);
    Run();
    EXPECT_LT(Enumerations(), static_cast<size_t>(kLookups)) << "one shared list";
}

TEST_F(QueryVolumesConcurrent, EveryVolumeIsFoundWithoutCaching) {
    Run();
    EXPECT_EQ(Enumerations(), static_cast<size_t>(kLookups));
    EXPECT_EQ(RkCimUtil::VolumeCacheSize(), 0u);
}

}  // namespace smistest
