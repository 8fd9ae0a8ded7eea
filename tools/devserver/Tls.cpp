#include "Tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace devserver {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* x) const { X509_free(x); }
};
struct ExtFree {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
struct FileClose {
    void operator()(FILE* f) const { fclose(f); }
};

bool Exists(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    Check(ext != nullptr, "extension");
    Check(X509_add_ext(cert, ext.get(), -1) == 1, "add extension");
}

// Writes through a temporary file and renames, so a crash leaves no half file.
template <class WriteFn>
void WritePem(const std::string& path, mode_t mode, WriteFn fn) {
    std::string temp = path + ".tmp";
    {
        std::unique_ptr<FILE, FileClose> f(fopen(temp.c_str(), "wb"));
        Check(f != nullptr, "open output");
        chmod(temp.c_str(), mode);
        Check(fn(f.get()) == 1, "write PEM");
    }
    Check(rename(temp.c_str(), path.c_str()) == 0, "rename");
}

}  // namespace

void EnsureCertificate(const std::string& dir, std::string& cert_path, std::string& key_path) {
    cert_path = dir + "/api-cert.pem";
    key_path = dir + "/api-key.pem";
    if (Exists(cert_path) && Exists(key_path)) return;

    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    std::unique_ptr<X509, CertFree> cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3650L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("nimbra-devserver"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    AddExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "sign");

    WritePem(key_path, 0600, [&](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    WritePem(cert_path, 0644, [&](FILE* f) { return PEM_write_X509(f, cert.get()); });
}

}  // namespace devserver
