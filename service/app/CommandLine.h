// CommandLine: the options of zoscsisrv (docs/SERVICE.md).
#pragma once

#include <string>
#include <vector>

namespace zoscsi {

struct CommandLine {
    bool foreground = false;
    bool help = false;
    bool version = false;
    bool initState = false;  // mark the state root initialised, then exit
    std::string listen;    // unix:PATH, tls:HOST:PORT or tcp:HOST:PORT
    std::string sessionFile;  // file holding the session identifier
    std::string stateDir;
    std::string backend;
    std::string client;
    std::string config;    // the INI file (else ZO_CONFIG, else the system default)
    std::string idleExit;  // seconds, as given
};

// False with a reason on an unknown option, a missing value or a stray word.
bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& line, std::string& error);

std::string UsageText();

}  // namespace zoscsi
