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
    {"--listen", &CommandLine::listen, "unix:PATH or tcp:HOST:PORT to listen on"},
    {"--session-file", &CommandLine::sessionFile, "file holding the session every connection must present"},
    {"--session", &CommandLine::session, "session identifier (shows in the process list: prefer --session-file)"},
    {"--state-dir", &CommandLine::stateDir, "folder of the inventories (STATE/<client>/inventory.db)"},
    {"--backend", &CommandLine::backend, "inventory (default) or another built-in backend"},
    {"--client", &CommandLine::client, "client name served (default: this machine's mangled name)"},
    {"--config", &CommandLine::config, "configuration file (default: ZO_CONFIG, else /etc/zo/zo.conf)"},
    {"--idle-exit", &CommandLine::idleExit, "exit after SECONDS without connections (0: never)"},
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
