#include "eseries/LSISnapshot.h"

#include "eseries/LsiErrorMap.h"

LSISnapshot::LSISnapshot() {
    SetLSIErrorTable(LsiSmisRkErrorMap);
}
