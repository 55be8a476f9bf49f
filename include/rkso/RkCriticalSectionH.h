// Host mutex. One per protected resource; not recursive. Safe to share between
// any number of threads; the object itself must outlive every holder.
//
//   RkCriticalSectionH* m = RkCriticalSectionH::create();
//   m->enter(true);  ... m->leave();
//   RkCriticalSectionH::destroy(m);
#pragma once

class RkCriticalSectionH {
  public:
    // A new unlocked mutex, or null when it cannot be allocated.
    static RkCriticalSectionH* create();
    // Accepts null. The mutex must not be held.
    static void destroy(RkCriticalSectionH* mutex);

    // wait true: blocks until the mutex is held and returns true.
    // wait false: takes the mutex only when it is free; returns whether it did.
    bool enter(bool wait);
    // Releases a mutex held by the calling thread.
    void leave();

    RkCriticalSectionH(const RkCriticalSectionH&) = delete;
    RkCriticalSectionH& operator=(const RkCriticalSectionH&) = delete;

  private:
    RkCriticalSectionH();
    ~RkCriticalSectionH();
    struct Impl;
    Impl* m_impl;
};
