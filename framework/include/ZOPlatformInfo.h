// ZOPlatformInfo: platform and configuration queries.
//
// Configuration is one INI file: the path in ZO_CONFIG, else /etc/zo/zo.conf.
// A missing file reads as empty; a malformed one is reported once on the log
// and reads as empty. Each query reads the file anew (it is small and the
// callers are rare), so a changed file is seen without a restart.
#pragma once

#include <string>

class ZOPlatformInfo {
public:
    ZOPlatformInfo() = default;

    // Non-zero when [section] key is present, with its value in *value (when
    // value is not null); 0 when absent.
    int getString(const char* section, const char* key, std::string* value);

    // The physical machine's short name: the host name up to the first dot.
    // The text lives as long as this object. When ZO_HOSTNAME is set (even
    // to the empty string) its value stands in for the host name, so a test
    // or a container can choose the node's name.
    const char* getPhysicalMachine();

    // The mangled host name of a client: lower-cased; every byte outside
    // [a-z0-9-] becomes '-'. Non-zero on success; 0 when the short name is
    // null, empty or longer than 63 bytes.
    int getClientHostNameMangled(const char* shortName, std::string& mangled);

    // The configuration file in use.
    static std::string ConfigPath();

private:
    std::string m_physicalMachine;
};
