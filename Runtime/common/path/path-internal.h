// Helpers shared by the path text functions.
#pragma once

#include "kelp/path.h"

namespace kelp_path {

inline bool isDosSep(char c) { return c == '\\' || c == '/'; }
inline bool isSep(char c, bool dos) { return c == '/' || (dos && c == '\\'); }
inline bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

inline bool isDot(const char *text, const ParsedPathComp &c)
{
    return c.length == 1 && text[c.offset] == '.';
}
inline bool isDotDot(const char *text, const ParsedPathComp &c)
{
    return c.length == 2 && text[c.offset] == '.' && text[c.offset + 1] == '.';
}

// Whether entry 0 of a record is a root rather than an ordinary component.
inline bool hasRootEntry(const ParsedPath *p)
{
    return (p->props & (PATH_UNC | PATH_ROOT_SLASH | PATH_VOLUME)) != 0;
}

} // namespace kelp_path
