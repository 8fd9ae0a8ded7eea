// Object keys, listing prefixes and user names as the command line takes
// them.
#ifndef NIMBRA_CLI_NAMES_H
#define NIMBRA_CLI_NAMES_H

#include <cstddef>
#include <string>

#include "Nimbra/Nimbra.h"

namespace cli {

// Empty when `key` can name an object; otherwise what is wrong with it.
std::string KeyProblem(const std::string& key);

// Empty when `name` can be a user or backup name (the web API's field is
// `max_bytes` long, terminator excluded); otherwise what is wrong with it.
std::string NameProblem(const std::string& what, const std::string& name, size_t max_bytes);

// The longest user name and file name a record holds, terminator excluded.
constexpr size_t kUserNameMax = sizeof(_ST_UserInfo::szName) - 1;
constexpr size_t kFileNameMax = sizeof(_ST_UserInfo::szFileName) - 1;

// Empty when `name` is one plain file name, fit for a record: not empty,
// not "." or "..", no '/' and no control characters, at most kFileNameMax
// bytes; otherwise what is wrong with it ("it contains '/'").
std::string FileNameProblem(const std::string& name);

// The folder a key lies in, as a listing prefix ("/" for the top level),
// and its name in that folder: "a/b/c" -> ("a/b/", "c").
void SplitKey(const std::string& key, std::string& folder, std::string& name);

// A listing prefix from what the user typed: "" and "/" are the top level,
// a leading "/" is dropped and a trailing "/" added ("alice" -> "alice/").
std::string FolderPrefix(const std::string& typed);

// Percent-encodes everything but unreserved characters, for a user name
// that the library appends to a query string as it is.
std::string QueryEscape(const std::string& text);

}  // namespace cli

#endif  // NIMBRA_CLI_NAMES_H
