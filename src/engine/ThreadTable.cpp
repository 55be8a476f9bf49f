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
    for (Slot& slot : m_slots) {
        slot.thread->joinThread();
        delete slot.thread;
        slot.device->logFormat(0, tag, "%s", joinedLine);
    }
    m_slots.clear();
}
