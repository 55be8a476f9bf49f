#include "eseries/LsiErrorMap.h"

// Row order is kept as the provider documentation lists it; lookups take the first match.
const RK_SMIS_SNAP::RK_SMIS_ERROR_MAP LsiSmisRkErrorMap[kLsiSmisRkErrorMapRows] = {
    {1, 1, -1, "SMIS internal error"},
    {3, 3, 60541, "SMIS Provider connection timeout"},
    {4, 4, -1,
     "SMIS method failed. 1) Possibly the secret key shared between SMI-S Provider and storage "
     "array is reset. Please use the snap configuration at array management to update the "
     "secret key. 2) PitView creation, during snapshot map, can fail with the given error in "
     "case controller path is set to non-preferred path. Please correct the controller path of "
     "PiTView volume. 3) Please check the storage array logs for further information."},
    {5, 5, 60540, "Invalid Parameter for SMIS method"},
    {4096, 4096, 4096, "Background Job started"},
    {640001, 650006, 60551, "Failed, host mappings found"},
    {640002, 650007, 650007, "mapping not found"},
    {640003, 650008, 60542, "Volume not found in SMIS provider"},
    {640009, 650009, -1, "Insufficient parameters to proceed with SMIS method"},
    {640010, 650015, -1, "Supplied parameter for SMIS method not found in provider repository"},
    {640004, 650010, 60543, "Max number of snapshots exceeded for the source volume"},
    {640005, 650011, 60553, "Clone volume creation failed"},
    {640006, 650012, 60554, "Clone attach for replica failed"},
    {640007, 650013, 60552, "Disk group not found for snap/clone operation"},
    {640008, 650014, 60555, "CIMOM authentication failure, wrong credentials provided"},
    {0, 0, 0, "Success"},
};
