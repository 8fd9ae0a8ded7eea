// Names a host takes from its user or from a server before they reach the
// library: object keys, user and backup names, file names, listing prefixes,
// and user names in the web API's query strings.
#ifndef HOSTKIT_NAMES_H
#define HOSTKIT_NAMES_H

#include <cstddef>
#include <string>

#include "Nimbra/Nimbra.h"

namespace hostkit {

// The longest user name and file name a record holds, terminator excluded.
constexpr size_t kUserNameMax = sizeof(_ST_UserInfo::szName) - 1;
constexpr size_t kFileNameMax = sizeof(_ST_UserInfo::szFileName) - 1;

// Empty when `key` can name an object; otherwise what is wrong with it.
std::string KeyProblem(const std::string& key);

// Empty when `name` can be a user or backup name (the record's field holds
// `max_bytes`, terminator excluded); otherwise what is wrong with it ("the
// <what> contains '/'").
std::string NameProblem(const std::string& what, const std::string& name, size_t max_bytes);

// Empty when `name` is one plain file name, fit for a record and safe to
// create in a folder: not empty, not "." or "..", no '/' and no control
// characters, at most kFileNameMax bytes; otherwise what is wrong with it
// ("it contains '/'"). Check every file name that comes from a record.
std::string FileNameProblem(const std::string& name);

// The folder a key lies in, as a listing prefix ("/" for the top level),
// and its name in that folder: "a/b/c" -> ("a/b/", "c").
void SplitKey(const std::string& key, std::string& folder, std::string& name);

// A listing prefix from what the user typed: "" and "/" are the top level,
// a leading "/" is dropped and a trailing "/" added ("alice" -> "alice/").
std::string FolderPrefix(const std::string& typed);

// Percent-encodes everything but unreserved characters. The library appends
// user names to the web API's query strings as they are: pass every user
// name through this ("ann&x=1" would otherwise name ann).
std::string QueryEscape(const std::string& text);

}  // namespace hostkit

#endif  // HOSTKIT_NAMES_H
