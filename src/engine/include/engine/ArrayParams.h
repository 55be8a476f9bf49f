// Array parameters of a snapshot object: which provider manages the device's
// array, how to log in, over HTTP or HTTPS, on which port and in which namespace.
#pragma once

#include <map>
#include <string>

#include "eseries/LSISnapshot.h"
#include "rkso/SnapInfo.h"

// From a management record of getArrayCredentials (array id in its item "arrayId").
// select: make the array the device's current one (setArrayName) first.
bool initArrayParams(RKSO::SnapInfo* info, LSISnapshot& snapshot, const char* record, bool select);

// The array namespaces one call learnt from the providers' interop namespaces, by
// endpoint, so each provider is asked once per call. Used from one thread.
struct NamespaceCache {
    std::map<std::string, std::string> byEndpoint;
};

// From the device's record of arrayId (getArrayInfo). With a cache, a provider's
// interop namespace already asked in this call is not asked again.
bool initArrayParams(LSISnapshot& snapshot, RKSO::SnapInfo* info, std::string arrayId, bool select,
                     NamespaceCache* cache = nullptr);

// As the second form, but an empty record is filled with the one fetched, so the
// next device of the same array can use it as it is; the namespace comes from the
// snapshot's replication service path.
bool initArrayParams(LSISnapshot& snapshot, RKSO::SnapInfo* info, std::string arrayId,
                     std::string& record);

namespace rkso {

// The provider login name as stored: with a backslash in it, the next backslash
// after the first is dropped (a doubled domain separator becomes single).
std::string providerUserName(std::string userName);

}  // namespace rkso
