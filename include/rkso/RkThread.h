// Host threads. One object runs one function once, on its own POSIX thread:
//
//   RkThread* t = new RkThread;
//   if (t->createThread(worker, &entry) < 0) { delete t; ... }  // not started
//   ...
//   t->joinThread();
//   delete t;
//
// An exception that leaves the function ends its thread quietly: it is caught
// and logged to the host debug log, never passed on.
#pragma once

typedef void* (*RkThreadFunction)(void* arg);

class RkThread {
  public:
    RkThread();
    // Joins a thread that was started and not joined yet.
    ~RkThread();
    RkThread(const RkThread&) = delete;
    RkThread& operator=(const RkThread&) = delete;

    // 0 when the thread runs; below 0 when nothing was started: a null function,
    // a second start on the same object, or the system refused a thread (-errno).
    int createThread(RkThreadFunction function, void* arg);
    // 0 once the thread has ended; below 0 when there is nothing to join or the
    // caller is the thread itself.
    int joinThread();
    // After joinThread: whether the function ended by an exception.
    bool endedByException() const;

  private:
    struct Impl;
    static void* start(void* impl);
    Impl* m_impl;
};
