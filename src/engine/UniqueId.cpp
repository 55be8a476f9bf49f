#include "engine/UniqueId.h"

#include <unistd.h>

#include <cstring>
#include <vector>

#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBuffer.h"

namespace {

constexpr char kSep = '*';

std::string readUniqueId(RKSO::SnapInfo* info) {
    return rkso::readSizedText(static_cast<short>(kSnapUniqueIdMaxChars + 1),
                               [info](char* buf, short* len) {
                                   return info->getMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, buf,
                                                            len);
                               })
        .text;
}

}  // namespace

bool formatSnapUniqueId(const SnapUniqueIdFields& f, bool pitEngine, std::string* text,
                        std::string* error) {
    const std::string* fields[] = {
        &f.arrayId,      &f.snapOperation, &f.servicePath,   &f.sourceDev, &f.sourceDevPath,
        &f.targetDGPath, &f.targetDev,     &f.targetDevPath, &f.pitName,   &f.consistencyGroupName};
    const int count = pitEngine ? 10 : 8;
    std::string out;
    for (int i = 0; i < count; ++i) {
        const std::string& field = *fields[i];
        if (field.find('\0') != std::string::npos) {
            if (error) *error = "field " + std::to_string(i + 1) + " contains a NUL character";
            return false;
        }
        // Only the last field of each layout takes the rest of the text when parsed.
        if (i != count - 1 && field.find(kSep) != std::string::npos) {
            if (error) *error = "field " + std::to_string(i + 1) + " contains the separator '*'";
            return false;
        }
        if (i > 0) out += kSep;
        out += field;
    }
    // A longer text would be stored whole but read back cut, its last fields lost.
    if (out.size() > kSnapUniqueIdMaxChars) {
        if (error)
            *error = "the identifier is " + std::to_string(out.size()) +
                     " characters long; at most " + std::to_string(kSnapUniqueIdMaxChars) +
                     " can be read back";
        return false;
    }
    *text = std::move(out);
    return true;
}

bool writeSnapUniqueId(RKSO::SnapInfo* info, const SnapUniqueIdFields& fields, bool pitEngine) {
    if (!info) return false;
    std::string text;
    std::string error;
    if (!formatSnapUniqueId(fields, pitEngine, &text, &error)) {
        info->logFormat(2, "RkSnapLSI::writeSnapUniqueId", "Cannot build unique identifier: %s",
                        error.c_str());
        return false;
    }
    if (info->setMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, text.c_str()) == 1) {
        info->logFormat(2, "RkSnapLSI::writeSnapUniqueId", "Failed to set metadata [id : %d]",
                        RKSO::METADATA_SNAP_UNIQUE_ID);
        return false;
    }
    return true;
}

bool parseUniqueId(RKSO::SnapInfo* info, const char* text, std::string& arrayId,
                   std::string& snapOperation, std::string& servicePath, std::string& sourceDev,
                   std::string& sourceDevPath, std::string& targetDGPath, std::string& targetDev,
                   std::string& targetDevPath, std::string& pitName,
                   std::string& consistencyGroupName) {
    const bool pit = getSnapEngineType(info) == RKSO::ENGINE_TYPE_PIT && pitName != "null";
    if (!text) return false;
    const std::string id(text);
    const size_t wanted = pit ? 9 : 7;
    std::vector<size_t> seps;
    for (size_t at = id.find(kSep); at != std::string::npos && seps.size() < wanted;
         at = id.find(kSep, at + 1))
        seps.push_back(at);
    if (seps.size() < (pit ? 8u : 7u)) {
        if (info)
            info->logFormat(2, "RkSnapLSI::parseUniqueId", "Invalid unique identifier %s", text);
        else
            o_logger.DebugLvl("RkSnapLSI::parseUniqueId", 2, "Invalid unique identifier %s", text);
        return false;
    }
    auto piece = [&id, &seps](size_t i) {  // text before separator i, after separator i-1
        size_t start = i == 0 ? 0 : seps[i - 1] + 1;
        return id.substr(start, seps[i] - start);
    };
    arrayId = piece(0);
    snapOperation = piece(1);
    servicePath = piece(2);
    sourceDev = piece(3);
    sourceDevPath = piece(4);
    targetDGPath = piece(5);
    targetDev = piece(6);
    if (pit) {
        targetDevPath = piece(7);
        if (seps.size() == 9) {
            pitName = piece(8);
            consistencyGroupName = id.substr(seps[8] + 1);
        } else {
            pitName = id.substr(seps[7] + 1);
        }
    } else {
        targetDevPath = id.substr(seps[6] + 1);
    }
    const char* format =
        " arrayId = %s, snapOp = %s, snapServicePath = %s, srcDev = %s, srcDevPath = %s "
        "targetDev = %s, pitFName = %s, consistencyGroup Name = %s";
    const char* pitShown = pit ? pitName.c_str() : "EMPTY";
    if (info)
        info->logFormat(0, "RkSnapLSI::parseUniqueId", format, arrayId.c_str(),
                        snapOperation.c_str(), servicePath.c_str(), sourceDev.c_str(),
                        sourceDevPath.c_str(), targetDev.c_str(), pitShown,
                        consistencyGroupName.c_str());
    else
        o_logger.DebugLvl("RkSnapLSI::parseUniqueId", -1, format, arrayId.c_str(),
                          snapOperation.c_str(), servicePath.c_str(), sourceDev.c_str(),
                          sourceDevPath.c_str(), targetDev.c_str(), pitShown,
                          consistencyGroupName.c_str());
    return true;
}

std::string getStorageArrayId(RKSO::SnapInfo* info) {
    if (!info) return std::string();
    std::string id = readUniqueId(info);
    std::string f[8];
    if (!parseUniqueId(info, id.c_str(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], tempArg,
                       tempArg)) {
        info->logFormat(2, "RkSnapLSI::getStorageArrayId",
                        "Failed to parse unique  identifier [%s]", id.c_str());
        return std::string();
    }
    return f[0];
}

std::string getSnapDeviceUUID(RKSO::SnapInfo* info) {
    if (!info) return std::string();
    std::string id = readUniqueId(info);
    std::string f[8];
    if (!parseUniqueId(info, id.c_str(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], tempArg,
                       tempArg)) {
        info->logFormat(2, "RkSnapLSIAPI::getSnapDeviceUUID",
                        "%s: Failed to parse unique  identifier [%s]",
                        "RkSnapLSIAPI::getSnapDeviceUUID", id.c_str());
        return std::string();
    }
    if (f[6] == "null" && getSnapEngineType(info) == RKSO::ENGINE_TYPE_PIT) return std::string();
    return f[6];
}

bool getHostIdentifier(RKSO::SnapInfo* info, std::string& hostId) {
    const char* failure = "Error: RKSOLSIAPI::getHostIdentifier Unable to get the host identifier";
    if (!info) {
        o_logger.DebugLvl("RKSOLSIAPI::getHostIdentifier", 2, "%s", failure);
        return false;
    }
    std::string path =
        rkso::readSizedText(RKSO::DEVICE_PATH_BUFFER_SIZE, [info](char* buf, short* len) {
            return info->getDevicePath(buf, len);
        }).text;
    std::string name;
    if (path.find("vmware") != std::string::npos) {
        rkso::HostText id = rkso::readSizedText(
            RKSO::HOST_ID_BUFFER_SIZE,
            [info](char* buf, short* len) { return info->getHostId(buf, len); });
        if (id.result != 0 || id.text.empty()) {
            info->logMessage(2, failure);
            return false;
        }
        name = id.text;
    } else {
        char buf[1024];
        std::memset(buf, 0, sizeof buf);
        if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') {
            info->logMessage(2, failure);
            return false;
        }
        name = buf;
    }
    hostId = name;
    return true;
}
