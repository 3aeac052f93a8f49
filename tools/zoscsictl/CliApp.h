// The command line of zoscsictl, declared with CLI11 from the command table.
#pragma once

#include "Commands.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zoctl {

struct GlobalOptions {
    std::string client;  // empty: this node's mangled host name
    int logLevel = -1;
    bool json = false;
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

private:
    struct Bound {
        CLI::App* app;
        const CommandRow* row;
        std::vector<std::pair<Param, CLI::Option*>> options;
    };

    void Bind(Bound& bound, Param param);

    CLI::App m_app;
    GlobalOptions m_globals;
    Args m_args;
    std::vector<Bound> m_commands;
};

}  // namespace zoctl
