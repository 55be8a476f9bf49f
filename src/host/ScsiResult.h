// Reading the outcome of a SCSI command: status, transport status and sense data.
#pragma once

#include <string>

namespace rkhost {

struct ScsiOutcome {
    unsigned char opcode = 0;
    int status = 0;        // SCSI status byte
    int hostStatus = 0;    // transport (host adapter) status
    int driverStatus = 0;  // driver status
    const unsigned char* sense = nullptr;
    int senseLength = 0;
};

// Empty when the command succeeded (a recovered error counts as success);
// otherwise a text naming the status and, where present, the sense key and
// ASC/ASCQ, e.g. "SCSI command 0x12 failed: status 0x02 (CHECK CONDITION),
// sense key 0x5 (ILLEGAL REQUEST), ASC/ASCQ 0x24/0x00 (invalid field in CDB)".
std::string describeScsiFailure(const ScsiOutcome& outcome);

}  // namespace rkhost
