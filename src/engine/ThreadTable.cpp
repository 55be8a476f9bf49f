#include "engine/ThreadTable.h"

#include <new>

ThreadTable::~ThreadTable() {
    for (Slot& slot : m_slots) {
        slot.thread->joinThread();
        delete slot.thread;
    }
}

ThreadTable::Start ThreadTable::start(RkThreadFunction function, void* arg,
                                      RKSO::SnapInfo* device) {
    RkThread* thread = new (std::nothrow) RkThread;
    if (!thread) return Start::kNoMemory;
    try {
        m_slots.reserve(m_slots.size() + 1);
    } catch (const std::bad_alloc&) {
        delete thread;
        return Start::kNoMemory;
    }
    if (thread->createThread(function, arg) < 0) {
        delete thread;
        return Start::kRefused;
    }
    m_slots.push_back(Slot{thread, device});
    return Start::kStarted;
}

void ThreadTable::joinAll(const char* tag, const char* joinedLine) {
    // Every thread is joined before a host call that might throw.
    for (Slot& slot : m_slots) slot.thread->joinThread();
    std::vector<Slot> joined;
    joined.swap(m_slots);
    for (Slot& slot : joined) delete slot.thread;
    for (Slot& slot : joined) slot.device->logFormat(0, tag, "%s", joinedLine);
}
