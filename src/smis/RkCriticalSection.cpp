#include "smis/RkCriticalSection.h"

#include <stdexcept>

RkCriticalSection::RkCriticalSection() : m_pHandle(RkCriticalSectionH::create()) {
    if (!m_pHandle) throw std::runtime_error("Not enough memory to initialize RkCriticalSection");
}

RkCriticalSection::~RkCriticalSection() {
    RkCriticalSectionH::destroy(m_pHandle);
}

bool RkCriticalSection::enter(bool wait) {
    return m_pHandle->enter(wait);
}

void RkCriticalSection::leave() {
    m_pHandle->leave();
}

RkCriticalSectionLock::RkCriticalSectionLock(RkCriticalSection* section) : m_pSection(section) {
    if (m_pSection) m_pSection->enter(true);
}

RkCriticalSectionLock::~RkCriticalSectionLock() {
    if (m_pSection) m_pSection->leave();
}
