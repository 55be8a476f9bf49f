// Random CIM objects and answers, and other legal spellings of them, to compare decoders.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <cim/CIMClass.h>
#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMValue.h>
#include <cim/xml/Codec.h>

namespace testsupport {

class RandomCim {
  public:
    explicit RandomCim(std::uint32_t seed) : m_rng(seed) {}

    std::string name();  // a legal CIM name, sometimes non-ASCII
    std::string text();  // any string a provider might send
    cim::CIMValue value(cim::CIMType type, bool isArray, int depth = 0);
    cim::CIMValue anyValue(int depth = 0);
    cim::CIMObjectPath path(int depth = 0, bool withNamespace = false);
    cim::CIMInstance instance(int depth = 0);
    cim::CIMClass cimClass();
    // An answer of any kind: instances, paths, a class, an error or a method's results.
    cim::xml::Response response();

    // The same XML with other quotes, bare '>' in values, comments, whitespace in tags.
    std::string respell(const std::string& xml);
    // A copy with one random fault: cut short, a byte dropped or changed, markup added.
    std::string damage(const std::string& xml);
    std::uint32_t below(std::uint32_t n) { return n == 0 ? 0 : m_rng() % n; }
    bool chance(int percent) { return static_cast<int>(below(100)) < percent; }

  private:
    std::mt19937 m_rng;
};

// Everything a decoded answer holds, as text, so that two answers compare in one string.
std::string describeResponse(const cim::xml::Response& response);
// The same for a decoded request, and for the results a client call handed over.
std::string describeRequest(const cim::xml::Request& request);
std::string describeResults(std::vector<cim::CIMInstance> instances,
                            std::vector<cim::CIMObjectPath> paths = {});

}  // namespace testsupport
