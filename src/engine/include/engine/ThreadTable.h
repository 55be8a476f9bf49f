// The worker threads of one prepare or create call: only started threads are kept,
// and they are joined in the order they were started.
#pragma once

#include <vector>

#include "rkso/RkThread.h"
#include "rkso/SnapInfo.h"

class ThreadTable {
  public:
    ThreadTable() = default;
    ~ThreadTable();  // joins whatever is still running
    ThreadTable(const ThreadTable&) = delete;
    ThreadTable& operator=(const ThreadTable&) = delete;

    enum class Start { kStarted, kNoMemory, kRefused };
    // Runs function(arg) on a new thread working for device.
    Start start(RkThreadFunction function, void* arg, RKSO::SnapInfo* device);

    // Joins every started thread in start order, logging joinedLine (level 0) on its
    // device after the join, then deletes it.
    void joinAll(const char* tag, const char* joinedLine);

  private:
    struct Slot {
        RkThread* thread;
        RKSO::SnapInfo* device;
    };
    std::vector<Slot> m_slots;
};
