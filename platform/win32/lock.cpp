#include "platform/lock.h"

#include <windows.h>

#include <new>

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

static CRITICAL_SECTION* native(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

recursive_lock::recursive_lock() { InitializeCriticalSection(new (m_storage) CRITICAL_SECTION); }

recursive_lock::~recursive_lock() { DeleteCriticalSection(native(m_storage)); }

void recursive_lock::lock() { EnterCriticalSection(native(m_storage)); }

void recursive_lock::unlock() { LeaveCriticalSection(native(m_storage)); }

}  // namespace platform
