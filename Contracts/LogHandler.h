// The host's logging function. The host application (or the stand-in
// library libNimbraLog) exports it; libNimbra only imports and calls it.
#ifndef CONTRACTS_LOGHANDLER_H
#define CONTRACTS_LOGHANDLER_H

#ifdef __cplusplus
extern "C" {
#endif

// function: the caller's name as a literal; file and line: the call site;
// level: 1 at every call site of the library; format: printf-style.
void LogHandlerA(const char* function, const char* file, int line, int level, const char* format,
                 ...) __attribute__((format(printf, 5, 6)));

#ifdef __cplusplus
}
#endif

#endif  // CONTRACTS_LOGHANDLER_H
