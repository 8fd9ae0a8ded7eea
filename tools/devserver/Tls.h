// The web API's certificate: a self-signed certificate for 127.0.0.1 and
// localhost, generated into the data directory on first start and reused.
#ifndef TOOLS_DEVSERVER_TLS_H
#define TOOLS_DEVSERVER_TLS_H

#include <string>

namespace devserver {

// Makes sure DIR/api-cert.pem and DIR/api-key.pem exist; throws on failure.
void EnsureCertificate(const std::string& dir, std::string& cert_path, std::string& key_path);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_TLS_H
