// Test helper. The number of threads of this process, read from /proc/self/task where that
// exists; -1 elsewhere. Any thread.
#pragma once

int process_thread_count();

// Whether process_thread_count() sees threads come and go: true only when the count rises
// while one more thread runs (not so, for instance, under a Windows emulator, which shows a
// thread list of its own). Any thread.
bool thread_count_is_meaningful();
