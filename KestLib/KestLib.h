// KestLib: path, file and string utilities exported by libNimbra, in narrow
// (A, std::string) and wide (W, std::wstring) forms.
#ifndef KESTLIB_KESTLIB_H
#define KESTLIB_KESTLIB_H

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#ifndef KESTLIB_API
#define KESTLIB_API __attribute__((visibility("default")))
#endif

namespace KestLib {

// Opens a C stream; the caller closes it with fclose. Null on failure.
KESTLIB_API FILE* FileOpenA(std::string strPath, std::string strMode);

}  // namespace KestLib

#endif  // KESTLIB_KESTLIB_H
