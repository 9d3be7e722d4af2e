// Internal. What the process holds, for the checks that the library gives back every thread
// and every descriptor it takes (the many-clients test, the soak run). Safe from any thread.
#pragma once

namespace platform {

// The threads of this process; -1 where the system does not tell.
long process_thread_count();
// Its open descriptors (POSIX) or handles (Windows); -1 where the system does not tell.
long process_handle_count();

}  // namespace platform
