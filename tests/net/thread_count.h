// Test helper. The number of threads of this process as the system lists them, or -1 where
// that list does not follow this process's threads (a Windows emulator keeps one of its own,
// for instance). Any thread.
#pragma once

int process_thread_count();
