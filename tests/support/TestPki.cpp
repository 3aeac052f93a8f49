#include "TestPki.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace zotest {

namespace {

constexpr long kDay = 24 * 60 * 60;

struct Freer {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer>;
using Certificate = std::unique_ptr<X509, Freer>;

struct Issued {
    Key key;
    Certificate certificate;
};

struct Shape {
    const char* commonName;
    bool ca;
    const char* altNames;  // subjectAltName, or null
    long notBefore;        // seconds from now
    long notAfter;
};

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Freer> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A certificate for `shape`, signed by `issuer` (itself when null).
bool Issue(const Shape& shape, const Issued* issuer, long serial, Issued& out) {
    out.key.reset(EVP_EC_gen("P-256"));
    out.certificate.reset(X509_new());
    X509* x = out.certificate.get();
    if (!out.key || !x) return false;
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), shape.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(x), shape.notAfter);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(shape.commonName), -1,
                               -1, 0);
    X509* signer = issuer ? issuer->certificate.get() : x;
    EVP_PKEY* signingKey = issuer ? issuer->key.get() : out.key.get();
    bool ok = X509_set_issuer_name(x, X509_get_subject_name(signer)) == 1 && X509_set_pubkey(x, out.key.get()) == 1;
    ok = ok && AddExtension(x, signer, NID_basic_constraints, shape.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    ok = ok && AddExtension(x, signer, NID_key_usage,
                            shape.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    ok = ok && AddExtension(x, signer, NID_subject_key_identifier, "hash");
    if (shape.altNames) ok = ok && AddExtension(x, signer, NID_subject_alt_name, shape.altNames);
    return ok && X509_sign(x, signingKey, EVP_sha256()) > 0;
}

bool WritePem(const std::string& path, const Issued& issued, bool key) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return false;
    if (key) ::chmod(path.c_str(), 0600);
    const bool ok = key ? PEM_write_PrivateKey(file, issued.key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1
                        : PEM_write_X509(file, issued.certificate.get()) == 1;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

bool MakeTestPki(const std::string& folder, std::string& error) {
    const char* serverNames = "IP:127.0.0.1,IP:::1,DNS:localhost";
    Issued ca, otherCa;
    struct Leaf {
        const char* name;
        Shape shape;
        const Issued* issuer;
    };
    const Leaf leaves[] = {
        {"server", {"zo test service", false, serverNames, -kDay, 30 * kDay}, &ca},
        {"expired", {"zo expired service", false, serverNames, -30 * kDay, -kDay}, &ca},
        {"client", {"zo test client", false, nullptr, -kDay, 30 * kDay}, &ca},
        {"stranger", {"zo stranger", false, nullptr, -kDay, 30 * kDay}, &otherCa},
    };
    bool ok = Issue({"zo test CA", true, nullptr, -kDay, 30 * kDay}, nullptr, 1, ca) &&
              Issue({"zo other CA", true, nullptr, -kDay, 30 * kDay}, nullptr, 2, otherCa) &&
              WritePem(folder + "/ca.pem", ca, false) && WritePem(folder + "/other-ca.pem", otherCa, false);
    long serial = 10;
    for (const Leaf& leaf : leaves) {
        Issued issued;
        ok = ok && Issue(leaf.shape, leaf.issuer, serial++, issued) &&
             WritePem(folder + "/" + leaf.name + ".pem", issued, false) &&
             WritePem(folder + "/" + leaf.name + ".key", issued, true);
    }
    if (!ok) {
        char text[256] = "";
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        error = "cannot make the test certificates in " + folder + ": " + text;
    }
    return ok;
}

TestPki::TestPki() {
    char pattern[] = "/tmp/zo-pki-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_error = "cannot make a folder for the test certificates";
        return;
    }
    m_folder = pattern;
    MakeTestPki(m_folder, m_error);
}

TestPki::~TestPki() {
    std::error_code ignored;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
}

}  // namespace zotest
