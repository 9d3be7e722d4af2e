#include "platform/process.h"

#include <dirent.h>

namespace platform {

namespace {
// Entries of a /proc folder, "." and ".." aside; -1 without one.
long entries(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}
}  // namespace

long process_thread_count() {
    return entries("/proc/self/task");
}

// The folder's own descriptor, open while it is read, is not counted.
long process_handle_count() {
    const long count = entries("/proc/self/fd");
    return count < 0 ? -1 : count - 1;
}

}  // namespace platform
