#include <mutex>
#include <new>

#include "rkso/RkCriticalSectionH.h"

struct RkCriticalSectionH::Impl {
    std::mutex mutex;
};

RkCriticalSectionH::RkCriticalSectionH() : m_impl(new Impl) {}

RkCriticalSectionH::~RkCriticalSectionH() {
    delete m_impl;
}

RkCriticalSectionH* RkCriticalSectionH::create() {
    try {
        return new RkCriticalSectionH;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void RkCriticalSectionH::destroy(RkCriticalSectionH* mutex) {
    delete mutex;
}

bool RkCriticalSectionH::enter(bool wait) {
    if (!wait) return m_impl->mutex.try_lock();
    m_impl->mutex.lock();
    return true;
}

void RkCriticalSectionH::leave() {
    m_impl->mutex.unlock();
}
