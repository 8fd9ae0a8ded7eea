// Turning one listed object or common prefix into a listing entry. Pure
// functions over text, usable on their own. Internal to the store module.
#ifndef NIMBRA_OSSLISTENTRY_H
#define NIMBRA_OSSLISTENTRY_H

#include <ctime>
#include <string>

#include "Nimbra/Nimbra.h"

// strKey relative to the listed prefix: without its first strPrefix.size()
// characters when strPrefix is empty or strKey begins with it, otherwise
// unchanged.
std::string ListRelativeName(const std::string& strPrefix, const std::string& strKey);

// A last-modified text such as "2019-03-15T08:20:31.000Z" read as local
// time (mktime, no daylight saving): the text is cut at its last '.', the
// date is what precedes the first 'T' and the time what follows it (each
// the whole text without a 'T'); "Y-M-D" and "h:m:s" are used only when
// they have exactly three fields. Unparsed fields stay 0; numbers beyond
// the int range are pinned to its ends.
time_t ListLastModifiedTime(const std::string& strLastModified);

// A file entry: size as atoll reads its text ("12abc" 12, "abc" 0; pinned
// to the range beyond it), name
// relative to the prefix (cut at a UTF-8 boundary to fit the field),
// modification time as above.
_ST_RemotePathInfo ListFileEntry(const std::string& strPrefix, const std::string& strKey,
                                 const std::string& strSize, const std::string& strLastModified);

// A folder entry from a common prefix: its relative name without the last
// character (the closing '/'). False, and info untouched, when the relative
// name has fewer than two characters.
bool ListFolderEntry(const std::string& strPrefix, const std::string& strCommonPrefix,
                     _ST_RemotePathInfo& info);

#endif  // NIMBRA_OSSLISTENTRY_H
