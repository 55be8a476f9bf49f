#include "ScsiResult.h"

#include <cstdio>

namespace rkhost {
namespace {

constexpr int kCheckCondition = 0x02;
constexpr int kDriverSense = 0x08;

const char* statusName(int status) {
    switch (status) {
        case 0x00:
            return "GOOD";
        case 0x02:
            return "CHECK CONDITION";
        case 0x04:
            return "CONDITION MET";
        case 0x08:
            return "BUSY";
        case 0x18:
            return "RESERVATION CONFLICT";
        case 0x28:
            return "TASK SET FULL";
        case 0x30:
            return "ACA ACTIVE";
        case 0x40:
            return "TASK ABORTED";
        default:
            return "unknown";
    }
}

const char* senseKeyName(int key) {
    static const char* const names[16] = {
        "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
        "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
        "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
        "reserved",       "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
    return names[key & 0x0F];
}

// The additional sense codes a host meets most, for a readable failure text.
const char* ascName(int asc, int ascq) {
    if (asc == 0x04) return "logical unit not ready";
    if (asc == 0x20 && ascq == 0x00) return "invalid command operation code";
    if (asc == 0x24 && ascq == 0x00) return "invalid field in CDB";
    if (asc == 0x25 && ascq == 0x00) return "logical unit not supported";
    if (asc == 0x29) return "power on, reset or bus device reset";
    if (asc == 0x2A) return "parameters changed";
    if (asc == 0x3A) return "medium not present";
    if (asc == 0x3F && ascq == 0x0E) return "reported LUNs data has changed";
    return nullptr;
}

const char* hostStatusName(int host) {
    switch (host) {
        case 0x01:
            return "no connection";
        case 0x02:
            return "bus busy";
        case 0x03:
            return "time-out";
        case 0x04:
            return "bad target";
        case 0x05:
            return "aborted";
        case 0x06:
            return "parity error";
        case 0x07:
            return "internal error";
        case 0x08:
            return "reset";
        case 0x0E:
            return "transport disrupted";
        case 0x0F:
            return "transport failfast";
        default:
            return "transport error";
    }
}

struct Sense {
    bool present = false;
    int key = 0, asc = 0, ascq = 0;
};

// Fixed (0x70/0x71) and descriptor (0x72/0x73) formats.
Sense parseSense(const unsigned char* s, int length) {
    Sense out;
    if (!s || length < 1) return out;
    int code = s[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && length >= 3) {
        out.present = true;
        out.key = s[2] & 0x0F;
        if (length >= 13) out.asc = s[12];
        if (length >= 14) out.ascq = s[13];
    } else if ((code == 0x72 || code == 0x73) && length >= 2) {
        out.present = true;
        out.key = s[1] & 0x0F;
        if (length >= 3) out.asc = s[2];
        if (length >= 4) out.ascq = s[3];
    }
    return out;
}

}  // namespace

std::string describeScsiFailure(const ScsiOutcome& o) {
    Sense sense = parseSense(o.sense, o.senseLength);
    bool checkCondition = (o.status & 0x3E) == kCheckCondition;
    bool recovered = sense.present && (sense.key == 0x0 || sense.key == 0x1);
    bool driverFailed = (o.driverStatus & 0x0F) != 0 && (o.driverStatus & 0x0F) != kDriverSense;
    if (o.hostStatus == 0 && !driverFailed && (o.status == 0 || (checkCondition && recovered)))
        return std::string();

    char buf[256];
    std::string text;
    std::snprintf(buf, sizeof buf, "SCSI command 0x%02X failed: ", o.opcode);
    text = buf;
    if (o.hostStatus != 0) {
        std::snprintf(buf, sizeof buf, "host status 0x%02X (%s)", o.hostStatus,
                      hostStatusName(o.hostStatus));
        text += buf;
        if (o.status == 0 && !sense.present) return text;
        text += ", ";
    }
    std::snprintf(buf, sizeof buf, "status 0x%02X (%s)", o.status & 0xFF,
                  statusName(o.status & 0xFE));
    text += buf;
    if (sense.present) {
        std::snprintf(buf, sizeof buf, ", sense key 0x%X (%s), ASC/ASCQ 0x%02X/0x%02X", sense.key,
                      senseKeyName(sense.key), sense.asc, sense.ascq);
        text += buf;
        if (const char* name = ascName(sense.asc, sense.ascq))
            text += std::string(" (") + name + ")";
    } else if (checkCondition) {
        text += ", no sense data";
    }
    if (driverFailed) {
        std::snprintf(buf, sizeof buf, ", driver status 0x%02X", o.driverStatus);
        text += buf;
    }
    return text;
}

}  // namespace rkhost
