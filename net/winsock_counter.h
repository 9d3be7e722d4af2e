// Internal. The process-wide sockets start-up counter: every socket object acquires it once
// when made and releases it once when destroyed; the first acquire starts the sockets
// library and a release that brings the count to 0 stops it. Safe from any thread.
#pragma once

// Counts one more user; starts the sockets library when this is the first one.
void winsock_acquire();

// Counts one user less (never below 0); stops the sockets library when none is left.
void winsock_release();

// The current count, for tests. Safe from any thread.
int winsock_count();
