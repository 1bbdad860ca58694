#pragma once
// printf() and format() for statements of the read-only query surface.
//
// SQLite's own printf repeats the character of a %c conversion once per unit
// of its precision, one append at a time: printf('%.*c', 999999999, 'x')
// spends half a minute in a single function call, where neither the progress
// handler nor the length limit stops it (the limit only makes the appends do
// nothing). These replacements refuse, with "string or blob too big", a %c
// whose precision is beyond the connection's length limit, and hand every
// other call to SQLite's own printf on a private in-memory connection, held
// to the same length limit, so their results are exactly SQLite's.

#include <sqlite3.h>

namespace orlune::core {

class BoundedPrintf {
public:
    // Makes printf and format of `db` the bounded ones, unless they already
    // are. Call it with the connection's mutex held and before the statement
    // is prepared. Returns false when SQLite would not replace the functions
    // (another statement of the connection is running); the built-in ones
    // then stay. The replacements live as long as the connection.
    static bool install(sqlite3* db);
};

} // namespace orlune::core
