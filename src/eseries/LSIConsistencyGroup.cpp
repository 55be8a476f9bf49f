// Consistency groups: GetConsistencyGroup, CreateConsistencyGroup, AddMembersToCG,
// RemoveMembersFromCG and DeleteConsistencyGroup. Not built yet: each traces so and
// answers its failure result.
#include "eseries/LSISnapshot.h"

bool LSISnapshot::GetConsistencyGroup(std::list<std::string>, short, int& groupIndex) {
    DEBUG_TRACE("LSISnapshot::GetConsistencyGroup", "not built yet");
    groupIndex = -1;
    return false;
}

int LSISnapshot::CreateConsistencyGroup() {
    DEBUG_TRACE("LSISnapshot::CreateConsistencyGroup", "not built yet");
    return -1;
}

int LSISnapshot::AddMembersToCG() {
    DEBUG_TRACE("LSISnapshot::AddMembersToCG", "not built yet");
    return -1;
}

int LSISnapshot::RemoveMembersFromCG() {
    DEBUG_TRACE("LSISnapshot::RemoveMembersFromCG", "not built yet");
    return -1;
}

int LSISnapshot::DeleteConsistencyGroup(int) {
    DEBUG_TRACE("LSISnapshot::DeleteConsistencyGroup", "not built yet");
    return -1;
}
