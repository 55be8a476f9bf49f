// The simulator through our own CIM client: every CIM error the repository answers,
// rejected credentials, every fault kind as the client sees it, keep-alive, many
// clients at once, and HTTPS.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <cim/CIMClient.h>

#include "sim/server/TestServer.h"

namespace {

class ClientTest : public ::testing::Test {
  protected:
    sim::TestServer simulator;
    cim::CIMClient client;
    std::string ns = simulator.arrayNamespace();

    void SetUp() override {
        client.connect("127.0.0.1", simulator.httpPort(), simulator.user(), simulator.password());
        client.setTimeout(20000);
    }

    cim::CIMObjectPath firstVolume() {
        auto names = client.enumerateInstanceNames(ns, "CIM_StorageVolume");
        EXPECT_FALSE(names.empty());
        return names.empty() ? cim::CIMObjectPath() : names.front();
    }

    cim::CIMObjectPath service(const char* cls) {
        auto names = client.enumerateInstanceNames(ns, cls);
        EXPECT_FALSE(names.empty()) << cls;
        return names.empty() ? cim::CIMObjectPath() : names.front();
    }

    // The CIM status the call fails with, or CIM_ERR_SUCCESS.
    template <class F>
    static cim::CIMStatusCode codeOf(F&& f) {
        try {
            f();
        } catch (const cim::CIMException& e) {
            return e.getCode();
        }
        return cim::CIM_ERR_SUCCESS;
    }

    cim::CIMInstance withProperty(const cim::CIMObjectPath& path, const char* name,
                                  const cim::CIMValue& value) {
        cim::CIMInstance inst(path.getClassName());
        inst.setPath(path);
        inst.addProperty(cim::CIMProperty(name, value));
        return inst;
    }
};

}  // namespace

TEST_F(ClientTest, EveryRepositoryErrorArrivesAsItsCode) {
    auto volume = firstVolume();
    EXPECT_EQ(codeOf([&] { client.enumerateInstanceNames("no/such", "CIM_StorageVolume"); }),
              cim::CIM_ERR_INVALID_NAMESPACE);
    EXPECT_EQ(codeOf([&] { client.enumerateInstances(ns, "NoSuch_Class"); }),
              cim::CIM_ERR_INVALID_CLASS);

    cim::CIMObjectPath gone = volume;
    std::vector<cim::CIMKeyBinding> keys;
    for (auto k : gone.getKeyBindings()) {
        if (cim::equalNoCase(k.getName().getString(), "DeviceID")) k.setValue("6000");
        keys.push_back(k);
    }
    gone.setKeyBindings(keys);
    EXPECT_EQ(codeOf([&] { client.getInstance(ns, gone); }), cim::CIM_ERR_NOT_FOUND);

    EXPECT_EQ(codeOf([&] { client.deleteInstance(ns, volume); }), cim::CIM_ERR_NOT_SUPPORTED);
    EXPECT_EQ(codeOf([&] { client.associatorNames(ns, volume, "NoSuch_Association"); }),
              cim::CIM_ERR_INVALID_CLASS);
    EXPECT_EQ(codeOf([&] {
                  client.modifyInstance(
                      ns, withProperty(volume, "Access", cim::CIMValue(cim::Uint16(9))), false,
                      cim::CIMPropertyList({cim::CIMName("Access")}));
              }),
              cim::CIM_ERR_INVALID_PARAMETER);
    EXPECT_EQ(codeOf([&] {
                  client.modifyInstance(
                      ns, withProperty(volume, "ElementName", cim::CIMValue("no spaces allowed")),
                      false, cim::CIMPropertyList({cim::CIMName("ElementName")}));
              }),
              cim::CIM_ERR_FAILED);
    cim::Array<cim::CIMParamValue> out;
    EXPECT_EQ(codeOf([&] {
                  client.invokeMethod(ns, service("CIM_ReplicationService"), "NoSuchMethod", {},
                                      out);
              }),
              cim::CIM_ERR_METHOD_NOT_FOUND);

    // Every refused call is logged with its code.
    int withCode = 0;
    for (const auto& r : simulator.requests()) withCode += r.cimStatus != 0;
    EXPECT_EQ(withCode, 8);
}

TEST_F(ClientTest, IntrinsicOperationsRoundTrip) {
    auto volume = firstVolume();
    auto inst = client.getInstance(ns, volume, false);
    EXPECT_NE(inst.findProperty("ElementName"), cim::PEG_NOT_FOUND);

    auto some = client.enumerateInstances(ns, "CIM_StorageVolume", true, false, false, false,
                                          cim::CIMPropertyList({cim::CIMName("Name")}));
    ASSERT_FALSE(some.empty());
    EXPECT_NE(some[0].findProperty("Name"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(some[0].findProperty("ElementName"), cim::PEG_NOT_FOUND);

    EXPECT_FALSE(client.associatorNames(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.associators(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.referenceNames(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.references(ns, volume, "CIM_AllocatedFromStoragePool").empty());

    client.modifyInstance(ns, withProperty(volume, "ElementName", cim::CIMValue("renamed_1")),
                          false, cim::CIMPropertyList({cim::CIMName("ElementName")}));
    auto after = client.getInstance(ns, volume, false);
    std::string label;
    after.getProperty(after.findProperty("ElementName")).getValue().get(label);
    EXPECT_EQ(label, "renamed_1");

    auto namespaces = client.enumerateInstanceNames(simulator.interopNamespace(), "CIM_Namespace");
    bool listed = false;
    for (const auto& n : namespaces) {
        const auto* k = n.findKeyBinding("Name");
        listed = listed || (k && k->getValue() == ns);
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(simulator.connectionCount(), 1u);
}

TEST_F(ClientTest, WrongCredentialsRaise401) {
    cim::CIMClient wrong;
    wrong.connect("127.0.0.1", simulator.httpPort(), simulator.user(), "not-the-password");
    try {
        wrong.enumerateInstanceNames(ns, "CIM_StorageVolume");
        FAIL() << "no exception";
    } catch (const cim::HttpException& e) {
        EXPECT_EQ(e.getStatus(), 401);
        EXPECT_NE(e.getMessage().find("401"), std::string::npos);
    }
}

TEST_F(ClientTest, HttpFaultsRaiseHttpExceptions) {
    for (int status : {401, 500, 503}) {
        simulator.failHttp(status);
        try {
            client.enumerateInstanceNames(ns, "CIM_StorageVolume");
            FAIL() << status;
        } catch (const cim::HttpException& e) {
            EXPECT_EQ(e.getStatus(), status);
            EXPECT_NE(e.getMessage().find("HTTP"), std::string::npos);
        }
        EXPECT_NO_THROW(client.enumerateInstanceNames(ns, "CIM_StorageVolume"));
    }
}

TEST_F(ClientTest, CimErrorAndReturnValueFaults) {
    simulator.failCim(cim::CIM_ERR_NOT_FOUND, "vanished", 1, {"GetInstance", "", ""});
    auto volume = firstVolume();
    try {
        client.getInstance(ns, volume);
        FAIL();
    } catch (const cim::CIMException& e) {
        EXPECT_EQ(e.getCode(), cim::CIM_ERR_NOT_FOUND);
        EXPECT_NE(e.getMessage().find("CIM_ERR_NOT_FOUND"), std::string::npos);
        EXPECT_NE(e.getMessage().find("vanished"), std::string::npos);
    }

    simulator.failReturnValue(4097, 1, {"", "ExposePaths", ""});
    cim::Array<cim::CIMParamValue> out;
    auto rv = client.invokeMethod(ns, service("CIM_ControllerConfigurationService"), "ExposePaths",
                                  {}, out);
    cim::Uint32 value = 0;
    rv.convertTo(cim::CIMTYPE_UINT32).get(value);
    EXPECT_EQ(value, 4097u);
    EXPECT_TRUE(out.empty());
}

TEST_F(ClientTest, BrokenAnswersRaiseParseOrHttpErrors) {
    simulator.addFault(sim::FaultKind::MalformedXml);
    EXPECT_THROW(client.enumerateInstanceNames(ns, "CIM_StorageVolume"), cim::ParseException);

    simulator.addFault(sim::FaultKind::Truncated);
    try {
        client.enumerateInstanceNames(ns, "CIM_StorageVolume");
        FAIL();
    } catch (const cim::Exception& e) {
        EXPECT_NE(e.getMessage().find("HTTP"), std::string::npos) << e.getMessage();
    }

    simulator.addFault(sim::FaultKind::Close);
    try {
        client.enumerateInstanceNames(ns, "CIM_StorageVolume");
        FAIL();
    } catch (const cim::Exception& e) {
        EXPECT_NE(e.getMessage().find("HTTP"), std::string::npos) << e.getMessage();
    }
    // The client reconnects for the next call.
    EXPECT_NO_THROW(client.enumerateInstanceNames(ns, "CIM_StorageVolume"));
}

TEST_F(ClientTest, HangingAnswerTimesOut) {
    simulator.addFault(sim::FaultKind::Hang);
    client.setTimeout(1000);
    EXPECT_THROW(client.enumerateInstanceNames(ns, "CIM_StorageVolume"),
                 cim::ConnectionTimeoutException);
    client.setTimeout(20000);
    EXPECT_NO_THROW(client.enumerateInstanceNames(ns, "CIM_StorageVolume"));
    EXPECT_EQ(simulator.requests().front().fault, "hang");
}

TEST_F(ClientTest, DelayedAnswersStillArrive) {
    simulator.delay(std::chrono::milliseconds(30), 2);
    simulator.setLatency(std::chrono::milliseconds(2));
    EXPECT_FALSE(client.enumerateInstanceNames(ns, "CIM_StorageVolume").empty());
    EXPECT_FALSE(client.enumerateInstanceNames(ns, "CIM_StorageVolume").empty());
}

TEST_F(ClientTest, JobsEndAsTheFaultSays) {
    auto next = [&]() {
        auto job = simulator.provider().startJob(0);
        job.setNameSpace(cim::CIMNamespaceName());
        job.setHost("");
        auto inst = client.getInstance(ns, job, false, false, false,
                                       cim::CIMPropertyList({cim::CIMName("JobState")}));
        cim::Uint32 idx = inst.findProperty("JobState");
        EXPECT_NE(idx, cim::PEG_NOT_FOUND);
        cim::Uint16 got = 0;
        if (idx != cim::PEG_NOT_FOUND) inst.getProperty(idx).getValue().get(got);
        return got;
    };
    for (uint16_t state : {uint16_t(8), uint16_t(10)}) {
        simulator.failNextJobs(1, state);
        EXPECT_EQ(next(), state);
    }
    // The first jobs pass: the second of a run fails.
    simulator.failNextJobs(1, 10, 1);
    EXPECT_EQ(next(), 7);
    EXPECT_EQ(next(), 10);
    EXPECT_EQ(next(), 7);
}

TEST_F(ClientTest, KeepAliveAndConcurrentClients) {
    for (int i = 0; i < 30; ++i) client.enumerateInstanceNames(ns, "CIM_StorageVolume");
    EXPECT_EQ(simulator.connectionCount(), 1u);
    simulator.log().clear();

    constexpr int kThreads = 8;
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            cim::CIMClient c;
            c.connect("127.0.0.1", simulator.httpPort(), simulator.user(), simulator.password());
            for (int i = 0; i < 20; ++i) {
                try {
                    auto vols = c.enumerateInstanceNames(ns, "CIM_StorageVolume");
                    c.getInstance(ns, vols.at(i % vols.size()));
                    ok += 2;
                } catch (const std::exception&) {
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), kThreads * 40);
    EXPECT_EQ(simulator.connectionCount(), size_t(kThreads));
}

TEST_F(ClientTest, HttpsWithTheSelfSignedCertificate) {
    cim::CIMClient tls;
    cim::SSLContext ctx("", [](cim::SSLCertificateInfo&) { return true; });
    tls.connect("127.0.0.1", simulator.httpsPort(), ctx, simulator.user(), simulator.password());
    EXPECT_FALSE(tls.enumerateInstanceNames(ns, "CIM_StorageVolume").empty());
    EXPECT_EQ(simulator.requests().back().listener, "https");

    // The handshake, and so the certificate check, belongs to connect.
    cim::CIMClient strict;
    cim::SSLContext refuse("", [](cim::SSLCertificateInfo&) { return false; });
    EXPECT_THROW(strict.connect("127.0.0.1", simulator.httpsPort(), refuse, simulator.user(),
                                simulator.password()),
                 cim::CannotConnectException);
}
