// Process-wide lock of the SMI-S layer over the host mutex, with a scoped guard.
#pragma once

#include "rkso/RkCriticalSectionH.h"

class RkCriticalSection {
  public:
    // Throws std::runtime_error("Not enough memory to initialize RkCriticalSection")
    // when the host mutex cannot be created.
    RkCriticalSection();
    ~RkCriticalSection();
    RkCriticalSection(const RkCriticalSection&) = delete;
    RkCriticalSection& operator=(const RkCriticalSection&) = delete;

    // Callers pass true (block until held); false only tries and tells whether it took it.
    bool enter(bool wait);
    void leave();

  private:
    RkCriticalSectionH* m_pHandle;
};

// Holds the lock for its lifetime; a null section means no locking at all.
class RkCriticalSectionLock {
  public:
    explicit RkCriticalSectionLock(RkCriticalSection* section);
    ~RkCriticalSectionLock();
    RkCriticalSectionLock(const RkCriticalSectionLock&) = delete;
    RkCriticalSectionLock& operator=(const RkCriticalSectionLock&) = delete;

  private:
    RkCriticalSection* m_pSection;
};
