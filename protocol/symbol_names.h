// Internal. Translation between the one-character codes under which five gold and silver
// contracts travel on the wire and the display names the application uses. The table is
// constant: any thread, no locks.
#pragma once

// The code ("0" to "4") of a display name, compared whole and case-sensitive; null when the
// table has no such name or `text` is null. The result points into the constant table.
const char* name_to_code(const char* text);

// The display name for a wire symbol. Only the first character is compared, so any text that
// begins with a code character translates; null when none matches or `text` is null. The result
// points into the constant table.
const char* code_to_name(const char* text);
