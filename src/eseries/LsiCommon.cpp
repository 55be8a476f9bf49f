#include "LsiCommon.h"

#include <string.h>

#include <cstdio>

#include <exception>

#include <cim/Exception.h>

#include "rkso/RKPlatformInfo.h"

namespace lsi {

std::string ClassPrefix(const cim::CIMObjectPath& path) {
    const std::string& name = path.getClassName().getString();
    return name.substr(0, name.find('_'));
}

std::string ClassPrefix(const std::string& pathText) {
    try {
        return ClassPrefix(cim::CIMObjectPath::parse(pathText));
    } catch (const cim::Exception&) {
        return std::string();
    }
}

std::string Key(const cim::CIMObjectPath& path, const std::string& keyName) {
    for (const cim::CIMKeyBinding& k : path.getKeyBindings())
        if (k.getName().getString() == keyName) return k.getValue();
    return std::string();
}

std::string ConfiguredClassPrefix(const RkSmisTracer& tracer, RKSO::SnapInfo* info,
                                  const char* function, PrefixReader reader) {
    const char* setting = "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX";
    std::string prefix;
    if (info) {
        if (reader == PrefixReader::PreferredController) {
            char buf[1024] = {0};
            int len = sizeof buf;
            info->getConfigString(setting, buf, &len);
            buf[sizeof buf - 1] = '\0';
            prefix = buf;
            char line[1200];
            std::snprintf(line, sizeof line, " Array Config [%s:%s]", setting, prefix.c_str());
            info->logMessage(0, line);
        } else {
            info->getConfigValue(setting, prefix);
            if (!prefix.empty()) {
                if (reader == PrefixReader::SecretCheck)
                    tracer.DEBUG_TRACE_NORMAL(function, "Array config [%s:%s]",
                                              "SMI-S Provider CIM ClassName Prefix",
                                              prefix.c_str());
                else
                    tracer.DEBUG_TRACE_NORMAL(function, " Array Config [%s:%s]", setting,
                                              prefix.c_str());
            }
        }
    }
    std::string fromHost;
    const char* hostKey = "LSI_OEM_CLASSNAME_PREFIX";
    if (RKPlatformInfo().getString("Talon", hostKey, &fromHost)) {
        prefix = fromHost;
        if (reader == PrefixReader::SecretCheck)
            tracer.DEBUG_TRACE_NORMAL(
                function,
                "Setting to override SMI-S classname prefix found. Setting-[%s], value-[%s]",
                hostKey, prefix.c_str());
        else if (reader == PrefixReader::SetArrayPW)
            tracer.DEBUG_TRACE_NORMAL(function,
                                      "Additional setting to override SMI-S classname prefix "
                                      "found. Setting-[%s], value-[%s]",
                                      hostKey, prefix.c_str());
    }
    if (reader == PrefixReader::PreferredController && !prefix.empty())
        tracer.DEBUG_TRACE_NORMAL(function,
                                  "Classname prefix [%s]  read from regkey/Snap configuration "
                                  "parameter",
                                  prefix.c_str());
    return prefix;
}

void TraceCaughtLine(const RkSmisTracer& tracer, const char* function, int line) {
    try {
        throw;
    } catch (const cim::CIMException& e) {
        tracer.DEBUG_TRACE(function, "%d: Caught CIMException: %s: %s\n", line,
                           cim::cimStatusCodeToString(e.getCode()), e.getMessage().c_str());
    } catch (const cim::Exception& e) {
        tracer.DEBUG_TRACE(function, "%d: Caught Exception: %s\n", line, e.getMessage().c_str());
    } catch (const std::exception& e) {
        tracer.DEBUG_TRACE(function, "%d: Caught Exception: %s\n", line, e.what());
    } catch (...) {
        tracer.DEBUG_TRACE(function, "Caught unknown exception\n");
    }
}

void Wipe(std::string& text) {
    if (!text.empty()) explicit_bzero(&text[0], text.size());
    text.clear();
}

}  // namespace lsi
