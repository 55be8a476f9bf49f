#include "VolumeData.h"

#include <cstdio>

#include <cim/xml/Codec.h>

namespace benchdata {

namespace {

const char* const kSystem = "600A098000A1B2C3000000005A0B0C0D";

std::string withPlaceholder(cim::xml::Response& r, int count, bool names) {
    r.messageId = kIdPlaceholder;
    r.hasReturnValue = true;
    // Encode in slices so that 100,000 volumes never sit in memory as objects.
    std::string head = cim::xml::encodeResponse(r);
    const std::string close = "</IRETURNVALUE>";
    std::size_t at = head.find(close);
    std::string out = head.substr(0, at);
    const int slice = 1000;
    for (int first = 0; first < count; first += slice) {
        cim::xml::Response part = r;
        for (int n = first; n < count && n < first + slice; ++n) {
            if (names)
                part.instanceNames.push_back(volumePath(n));
            else
                part.instances.push_back(volume(n));
        }
        std::string text = cim::xml::encodeResponse(part);
        std::size_t begin = text.find("<IRETURNVALUE>\n") + 15;
        out.append(text, begin, text.find(close) - begin);
    }
    out.append(head, at, std::string::npos);
    return out;
}

}  // namespace

std::string volumeUuid(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "600A098000A1B2C3%016X", static_cast<unsigned>(n) * 2654435761u);
    return id;
}

cim::CIMObjectPath volumePath(int n) {
    using cim::CIMKeyBinding;
    return cim::CIMObjectPath(
        "", cim::CIMNamespaceName(), kVolumeClass,
        {CIMKeyBinding("CreationClassName", kVolumeClass, CIMKeyBinding::STRING),
         CIMKeyBinding("DeviceID", volumeUuid(n), CIMKeyBinding::STRING),
         CIMKeyBinding("SystemCreationClassName", "LSISSI_StorageSystem", CIMKeyBinding::STRING),
         CIMKeyBinding("SystemName", kSystem, CIMKeyBinding::STRING)});
}

cim::CIMInstance volume(int n) {
    using namespace cim;
    CIMObjectPath path = volumePath(n);
    CIMInstance i(kVolumeClass);
    for (const CIMKeyBinding& k : path.getKeyBindings())
        i.addProperty(CIMProperty(k.getName(), CIMValue(k.getValue())));
    i.addProperty(CIMProperty("Name", CIMValue(volumeUuid(n))));
    i.addProperty(CIMProperty("ElementName", CIMValue("Volume_" + std::to_string(n))));
    i.addProperty(CIMProperty("BlockSize", CIMValue(Uint64(512))));
    i.addProperty(CIMProperty("NumberOfBlocks", CIMValue(Uint64(209715200 + 2048 * n))));
    i.addProperty(CIMProperty("ConsumableBlocks", CIMValue(Uint64(209715200 + 2048 * n))));
    i.addProperty(CIMProperty("Access", CIMValue(Uint16(3))));
    i.addProperty(CIMProperty("Primordial", CIMValue(false)));
    i.addProperty(CIMProperty("NameFormat", CIMValue(Uint16(2))));
    i.addProperty(CIMProperty("CurrentManager", CIMValue(n % 2 ? "021648000111" : "021648000222")));
    i.addProperty(CIMProperty("EnabledState", CIMValue(Uint16(2))));
    i.addProperty(CIMProperty("OperationalStatus", CIMValue(Array<Uint16>{2})));
    i.addProperty(CIMProperty("HealthState", CIMValue(Uint16(5))));
    i.setPath(std::move(path));
    return i;
}

std::string enumerateInstancesBody(int count) {
    cim::xml::Response r;
    r.methodName = cim::xml::kEnumerateInstances;
    return withPlaceholder(r, count, false);
}

std::string smallInstancesBody(std::size_t bytes, long& count) {
    cim::xml::Response r;
    r.methodName = cim::xml::kEnumerateInstances;
    r.messageId = kIdPlaceholder;
    r.hasReturnValue = true;
    std::string head = cim::xml::encodeResponse(r);
    const std::string close = "</IRETURNVALUE>";
    std::size_t at = head.find(close);
    std::string out = head.substr(0, at);
    out.reserve(bytes + 4096);
    count = 0;
    while (out.size() < bytes) {
        cim::xml::Response part = r;
        for (int i = 0; i < 1000; ++i, ++count) {
            char id[24];
            std::snprintf(id, sizeof id, "ID-%010ld", count);
            cim::CIMInstance inst("LSISSI_Small");
            inst.addProperty(cim::CIMProperty("InstanceID", cim::CIMValue(std::string(id))));
            inst.addProperty(
                cim::CIMProperty("ElementName", cim::CIMValue("e" + std::to_string(count))));
            inst.addProperty(cim::CIMProperty("Value", cim::CIMValue(cim::Uint32(count))));
            inst.setPath(cim::CIMObjectPath(
                "", cim::CIMNamespaceName(), "LSISSI_Small",
                {cim::CIMKeyBinding("InstanceID", id, cim::CIMKeyBinding::STRING)}));
            part.instances.push_back(std::move(inst));
        }
        std::string text = cim::xml::encodeResponse(part);
        std::size_t begin = text.find("<IRETURNVALUE>\n") + 15;
        out.append(text, begin, text.find(close) - begin);
    }
    out.append(head, at, std::string::npos);
    return out;
}

std::string enumerateInstanceNamesBody(int count) {
    cim::xml::Response r;
    r.methodName = cim::xml::kEnumerateInstanceNames;
    return withPlaceholder(r, count, true);
}

}  // namespace benchdata
