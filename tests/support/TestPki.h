// Certificates made at test time (P-256 keys, SHA-256 signatures), written
// as PEM into a folder of the caller's, so that nothing secret is kept in
// the sources. Names in the folder:
//   ca.pem                    the CA that the service and clients trust
//   other-ca.pem              a CA that signed none of these
//   server.pem, server.key    the service, for 127.0.0.1, ::1 and localhost
//   expired.pem, expired.key  the same names, expired a day ago
//   client.pem, client.key    a client certificate, signed by ca.pem
//   stranger.pem, stranger.key  a client certificate signed by other-ca.pem
#pragma once

#include <string>

namespace zotest {

// False with the reason when a step fails. Keys are written 0600.
bool MakeTestPki(const std::string& folder, std::string& error);

// The certificates in a fresh folder under /tmp, removed with the object.
class TestPki {
public:
    TestPki();
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    std::string operator/(const std::string& name) const { return m_folder + "/" + name; }

private:
    std::string m_folder;
    std::string m_error;
};

}  // namespace zotest
