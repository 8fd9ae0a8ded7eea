// What this nimbra was built against, defined in Main.cpp: the version and
// the addresses compiled into the library it links.
#ifndef NIMBRA_CLI_BUILDINFO_H
#define NIMBRA_CLI_BUILDINFO_H

namespace cli {

extern const char* const kVersion;
extern const char* const kServerUrl;
extern const char* const kEndpoint;
extern const char* const kBucket;

// Parses the command line and runs one command; returns the exit status.
int Run(int argc, char** argv);

}  // namespace cli

#endif  // NIMBRA_CLI_BUILDINFO_H
