// IsLunMapped: whether a volume is presented to the given host ports, only to other
// hosts, or to no host at all.
#include <string>
#include <vector>

#include <cim/Exception.h>

#include "RkCimUtilInternal.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

unsigned int SmisAction::IsLunMapped(RkCimConnection& conn, std::vector<std::string>& args) {
    const char* fn = "SMIS::IsLunMapped";
    if (args.size() < 3) {
        DEBUG_TRACE(fn, "chklunmap: Insufficient params specified");
        DEBUG_TRACE(fn, "    need: SystemName volName initiatorPortsList");
        DEBUG_TRACE(fn, "\t List is comma delimited");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(fn, "SystemName <%s> not found", systemName.c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }

        cim::Array<cim::String> volumeNames, volumePaths;
        std::string volumeLabel;
        if (ArgPresent(args, 1)) {
            volumeNames.push_back(args[1]);
            cim::CIMObjectPath volume;
            if (!ParsePathOrName(args[1], volume)) {
                DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name)");
                volume =
                    GetObjPathByPropNamev2(conn, systemName, "CIM_StorageVolume", "Name", args[1]);
            }
            cim::CIMInstance instance;
            if (!volume.getClassName().isNull()) {
                try {
                    instance = conn.GetInstance(volume);
                } catch (const cim::CIMException& e) {
                    if (!rkcimutil::IsNotFound(e)) throw;
                }
            }
            if (conn.AuthFailed()) return 1;
            if (instance.isUninitialized()) {
                DEBUG_TRACE(fn, "Storage Volume <%s> not found", args[1].c_str());
                return 650008;
            }
            volumeLabel = GetCIMProp(instance, "ElementName");
            volumePaths.push_back(volume.toString());
            DEBUG_TRACE(fn, "vols : %s", volumePaths.front().c_str());
        }

        cim::Array<cim::String> ports;
        if (ArgPresent(args, 2)) ports = InputToStringArray(args[2], ',');
        if (!volumePaths.empty()) DEBUG_TRACE(fn, "HBA ports : %s", args[2].c_str());
        cim::Array<cim::String>& volumes =
            volumeNames.size() == 1 && volumePaths.size() == 1 ? volumePaths : volumeNames;

        if (ports.empty()) {
            if (GetCtlrPathList(conn, system, volumes, {}).empty()) {
                if (conn.AuthFailed()) return 1;
                DEBUG_TRACE(fn, "No mapping found for StorageVolume <%s>", volumeLabel.c_str());
                return 650007;
            }
        } else {
            const bool anyHost = !GetCtlrPathList(conn, system, volumes, {}).empty();
            const bool thisHost = !GetCtlrPathList(conn, system, volumes, ports).empty();
            // After a rejected login the lookups saw nothing: that is no answer.
            if (conn.AuthFailed()) return 1;
            if (!anyHost && !thisHost) {
                DEBUG_TRACE(fn, "Storage Volume <%s> not mapped to any host", volumeLabel.c_str());
                return 650007;
            }
            if (!thisHost) {
                DEBUG_TRACE(fn, "Storage Volume <%s> mapped to another host", volumeLabel.c_str());
                return 650006;
            }
        }
        DEBUG_TRACE(fn, "Storage Volume <%s> found mappings for the Host", volumeLabel.c_str());
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
