// nimbra's entry point, and the one source file that reads NimbraConfig.h:
// each copy of nimbra is built from the same objects plus this file, for the
// copy of the library whose addresses it names.
#include "BuildInfo.h"
#include "Nimbra/NimbraConfig.h"

namespace cli {

const char* const kVersion = NIMBRA_VERSION;
const char* const kServerUrl = NIMBRA_SERVER_URL;
const char* const kEndpoint = NIMBRA_ENDPOINT;
const char* const kBucket = NIMBRA_BUCKET;

}  // namespace cli

int main(int argc, char** argv) {
    return cli::Run(argc, argv);
}
