#include "app/CommandLine.h"

namespace zoscsi {
namespace {

struct Flag {
    const char* name;
    bool CommandLine::*member;
};

struct Valued {
    const char* name;
    std::string CommandLine::*member;
    const char* meaning;
};

const Flag kFlags[] = {
    {"--foreground", &CommandLine::foreground},
    {"--help", &CommandLine::help},
    {"--version", &CommandLine::version},
    {"--init-state", &CommandLine::initState},
};

const Valued kValued[] = {
    {"--listen", &CommandLine::listen, "unix:PATH, tls:HOST:PORT or tcp:HOST:PORT to listen on"},
    {"--session-file", &CommandLine::sessionFile, "file holding the session every connection must present"},
    {"--state-dir", &CommandLine::stateDir, "folder of the inventories (STATE/<client>/inventory.db)"},
    {"--backend", &CommandLine::backend, "inventory (default) or another built-in backend"},
    {"--client", &CommandLine::client, "client name served (default: this machine's mangled name)"},
    {"--config", &CommandLine::config, "configuration file (default: ZO_CONFIG, else /etc/zo/zo.conf)"},
    {"--idle-exit", &CommandLine::idleExit, "exit after SECONDS without connections (0: never)"},
};

// Options refused with the reason, so that a command line that still uses
// one learns what to use instead.
const struct {
    const char* name;
    const char* reason;
} kRefused[] = {
    {"--session",
     "--session would put the secret in the process list, where every local user can read it; write it to a "
     "file only the service's user can read (chmod 600) and give --session-file PATH, or set ZO_ODS_SESSION"},
};

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& line, std::string& error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string word = arguments[i];
        std::string value;
        bool inlineValue = false;
        const size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
            inlineValue = true;
        }
        for (const auto& refused : kRefused) {
            if (word == refused.name) {
                error = refused.reason;
                return false;
            }
        }
        bool known = false;
        for (const Flag& flag : kFlags) {
            if (word != flag.name) continue;
            if (inlineValue) {
                error = word + " takes no value";
                return false;
            }
            line.*flag.member = true;
            known = true;
        }
        for (const Valued& option : kValued) {
            if (word != option.name) continue;
            if (!inlineValue) {
                if (i + 1 == arguments.size()) {
                    error = word + " needs a value";
                    return false;
                }
                value = arguments[++i];
            }
            line.*option.member = value;
            known = true;
        }
        if (!known) {
            error = "unknown argument \"" + arguments[i] + "\"";
            return false;
        }
    }
    return true;
}

std::string UsageText() {
    std::string text =
        "usage: zoscsisrv [options]\n"
        "Started by the on-demand launcher, or by hand with --foreground.\n";
    text += "  --foreground          run by hand (not launched)\n";
    for (const Valued& option : kValued) {
        std::string name = std::string(option.name) + " VALUE";
        name.resize(22, ' ');
        text += "  " + name + option.meaning + "\n";
    }
    text += "  --init-state          mark the state root as a new node's (RequireMountedState), then exit\n";
    text += "  --help                this text\n  --version             the program's version\n";
    return text;
}

}  // namespace zoscsi
