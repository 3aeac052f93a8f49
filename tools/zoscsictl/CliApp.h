// The command line of zoscsictl, declared with CLI11 from the command table.
#pragma once

#include "Commands.h"

#include <CLI/CLI.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zoctl {

constexpr int kMaxTimeoutSec = 86400;

struct GlobalOptions {
    std::string client;  // empty: this node's mangled host name
    int logLevel = -1;
    bool json = false;
    int timeoutSec = 120;  // the whole command's bound; 0: none
};

class CliApp {
public:
    CliApp();

    CLI::App& app() { return m_app; }
    GlobalOptions& globals() { return m_globals; }
    Args& args() { return m_args; }

    // After a successful parse: the row of the command given (never null,
    // since a command is required), with the options it saw recorded in
    // args().given.
    const CommandRow* Selected();

    // The command words of a command line, read without parsing it whole:
    // `path` holds the words recognised ("lun create"); `problem` says what is
    // wrong with them, when anything is ("unknown command 'tagret'; did you
    // mean 'target'?", "'lun' needs a command: ..."), else it is empty.
    struct CommandWords {
        std::string path;
        std::string problem;
    };
    CommandWords ReadCommandWords(const std::vector<std::string>& args) const;

private:
    struct Bound {
        CLI::App* app;
        const CommandRow* row;
        std::vector<std::pair<Param, CLI::Option*>> options;
    };

    CLI::App* AddCommand(const std::string& path, const CommandRow& row);
    void Bind(Bound& bound, Param param);
    // The global options as a help section, for every command's help.
    std::string GlobalOptionsHelp();

    CLI::App m_app;
    GlobalOptions m_globals;
    Args m_args;
    std::vector<Bound> m_commands;
    std::map<std::string, CLI::App*> m_groups;  // "target", "lun"
    std::string m_globalHelp;
};

// The word of `candidates` closest to `word` by edit distance (a swap of two
// neighbours counts as one edit), when it is close enough to be a likely
// misspelling; else empty.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace zoctl
