#include "sim/server/TestServer.h"

#include <set>
#include <stdexcept>

namespace sim {

namespace {

FaultRule ruleFor(FaultKind kind, int count, const RequestKey& match, int skip) {
    FaultRule rule;
    rule.kind = kind;
    rule.count = count;
    rule.skip = skip;
    rule.operation = match.operation;
    rule.method = match.method;
    rule.className = match.className;
    return rule;
}

}  // namespace

TestServer::TestServer(Config config, TestServerOptions options) : m_config(std::move(config)) {
    m_provider = std::make_unique<Provider>(m_config, options.clock);
    m_backend = std::make_unique<ProviderBackend>(*m_provider);
    ServerOptions so;
    so.bindAddress = options.bindAddress;
    so.httpPort = options.http ? 0 : -1;
    so.httpsPort = options.https ? 0 : -1;
    so.user = m_config.user;
    so.password = m_config.password;
    so.maxThreads = options.maxThreads;
    so.maxHoldMs = options.maxHoldMs;
    so.keepAliveTimeoutSec = options.keepAliveTimeoutSec;
    so.headerTimeoutMs = options.headerTimeoutMs;
    so.bodyTimeoutMs = options.bodyTimeoutMs;
    so.workerIdleMs = options.workerIdleMs;
    so.maxRequestBytes = options.maxRequestBytes;
    m_server = std::make_unique<Server>(*m_backend, so);
    m_server->start();
}

TestServer::~TestServer() {
    m_server->stop();
}

Provider& TestServer::provider() {
    return *m_provider;
}
Server& TestServer::server() {
    return *m_server;
}

int TestServer::httpPort() const {
    return m_server->httpPort();
}
int TestServer::httpsPort() const {
    return m_server->httpsPort();
}
std::string TestServer::httpUrl() const {
    return m_server->httpUrl();
}
std::string TestServer::httpsUrl() const {
    return m_server->httpsUrl();
}
const std::string& TestServer::user() const {
    return m_config.user;
}
const std::string& TestServer::password() const {
    return m_config.password;
}
const std::string& TestServer::arrayNamespace() const {
    return m_config.arrayNamespace;
}
const std::string& TestServer::interopNamespace() const {
    return m_config.interopNamespace;
}

FaultInjector& TestServer::faults() {
    return m_server->faults();
}
RequestLog& TestServer::log() {
    return m_server->log();
}

uint64_t TestServer::addFault(FaultRule rule) {
    return faults().add(std::move(rule));
}

uint64_t TestServer::addFault(FaultKind kind, int count, const RequestKey& match, int skip) {
    return faults().add(ruleFor(kind, count, match, skip));
}

uint64_t TestServer::failHttp(int status, int count, const RequestKey& match, int skip) {
    FaultRule rule = ruleFor(FaultKind::Http, count, match, skip);
    rule.httpStatus = status;
    return faults().add(rule);
}

uint64_t TestServer::failCim(int cimCode, const std::string& description, int count,
                             const RequestKey& match, int skip) {
    FaultRule rule = ruleFor(FaultKind::CimError, count, match, skip);
    rule.cimCode = cimCode;
    rule.description = description;
    return faults().add(rule);
}

uint64_t TestServer::failReturnValue(uint32_t value, int count, const RequestKey& match, int skip) {
    FaultRule rule = ruleFor(FaultKind::ReturnValue, count, match, skip);
    rule.returnValue = value;
    return faults().add(rule);
}

uint64_t TestServer::delay(std::chrono::milliseconds by, int count, const RequestKey& match,
                           int skip) {
    FaultRule rule = ruleFor(FaultKind::Delay, count, match, skip);
    rule.delayMs = by.count();
    return faults().add(rule);
}

uint64_t TestServer::hang(std::chrono::milliseconds hold, int count, const RequestKey& match,
                          int skip) {
    FaultRule rule = ruleFor(FaultKind::Hang, count, match, skip);
    rule.holdMs = hold.count();
    return faults().add(rule);
}

void TestServer::setLatency(std::chrono::milliseconds perRequest) {
    faults().setLatencyMs(perRequest.count());
}

std::vector<std::string> TestServer::removeObject(RemovableKind kind, const std::string& target) {
    return m_backend->removeObject(removableKindName(kind), target, "");
}

uint64_t TestServer::removeBefore(RemovableKind kind, const std::string& target,
                                  const RequestKey& match, int nth) {
    if (nth < 1) throw std::invalid_argument("removeBefore: nth must be at least 1");
    RemovalRule rule;
    rule.object = removableKindName(kind);
    rule.target = target;
    rule.match = match;
    rule.nth = nth;
    return m_server->removals().add(std::move(rule));
}

nlohmann::json TestServer::state() const {
    return m_backend->state();
}

void TestServer::failNextJobs(int count, uint16_t finalJobState) {
    m_provider->failNextJobs(count, finalJobState);
}

void TestServer::setJobMode(const std::string& methodOrOperation, bool job) {
    m_provider->setJobMode(methodOrOperation, job);
}

void TestServer::reset() {
    faults().clear();
    m_server->removals().clear();
    log().clear();
    m_backend->reset();
}

std::vector<RequestRecord> TestServer::requests() const {
    return m_server->log().snapshot();
}

size_t TestServer::connectionCount() const {
    std::set<uint64_t> ids;
    for (const auto& r : m_server->log().snapshot()) ids.insert(r.connection);
    return ids.size();
}

}  // namespace sim
