#include "platform/lock.h"

#include <pthread.h>

#include <new>

namespace platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

static pthread_mutex_t* native(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

recursive_lock::recursive_lock() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (m_storage) pthread_mutex_t, &attr);
    pthread_mutexattr_destroy(&attr);
}

recursive_lock::~recursive_lock() { pthread_mutex_destroy(native(m_storage)); }

void recursive_lock::lock() { pthread_mutex_lock(native(m_storage)); }

void recursive_lock::unlock() { pthread_mutex_unlock(native(m_storage)); }

}  // namespace platform
