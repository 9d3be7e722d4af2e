// quote_recorder's work on a capture that is already written: the summary of --print and the
// conversion of --to-csv. Main thread.
#pragma once

#include <string>

// Reads `capture` and prints its summary (`print`) and/or writes it as CSV to `csv_path`
// (unless empty). Returns the exit status: 0, 1 when it cannot be read or holds no quotes,
// 3 when it ends inside a record (everything before it was used, with a warning).
int read_capture(const std::string& capture, bool print, const std::string& csv_path);
