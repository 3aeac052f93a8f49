#include "CliApp.h"

#include <climits>
#include <map>

namespace zoctl {

namespace {

constexpr const char* kOverview =
    "Drive the node's SCSI target service (ZoScsiSrv). The service is launched on demand\n"
    "for the client name; every command runs one operation on it.";

constexpr const char* kMainFooter =
    "Global options go before or after the command: zoscsictl --json ls, zoscsictl ls --json.\n"
    "\n"
    "Examples:\n"
    "  zoscsictl start\n"
    "  zoscsictl target add tgt01\n"
    "  zoscsictl lun create tgt01 --size 64M\n"
    "  zoscsictl map tgt01 1 iqn.2026-12.com.example:host01\n"
    "  zoscsictl ls --target tgt01\n"
    "\n"
    "Exit codes: 0 ok, 1 other failure, 2 usage error, 3 not found, 4 already exists,\n"
    "5 invalid argument, 6 time-out, 7 service unreachable, 8 busy (docs/CLI.md).";

// A value that becomes one word of the service's option text.
const CLI::Validator kOneWord(
    [](std::string& value) -> std::string {
        if (value.empty()) return "must not be empty";
        if (value.find_first_of(" \t\r\n\v\f") != std::string::npos) return "must be one word (no blanks)";
        return std::string();
    },
    "WORD");

// A LUN id: decimal digits, 0..2147483647.
const CLI::Validator kLunId(
    [](std::string& value) -> std::string {
        if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoll(value) > INT_MAX)
            return "a LUN id is a number from 0 to 2147483647, not \"" + value + "\"";
        return std::string();
    },
    "ID");

const std::map<std::string, std::string> kGroupSummaries = {
    {"target", "Add or remove a target (target add, target rm)"},
    {"lun", "Create, open, close or remove a LUN (lun create, open, close, rm)"},
};

}  // namespace

CliApp::CliApp() : m_app(kOverview, "zoscsictl") {
    m_app.fallthrough();  // inherited: global options are accepted after the command too
    m_app.require_subcommand(1);
    m_app.footer(kMainFooter);
    m_app.add_option("--client", m_globals.client,
                     "Client name the service is launched for (default: this node's mangled host name)")
        ->type_name("NAME");
    m_app.add_option("--log-level", m_globals.logLevel,
                     "Log level: -2 silent, -1 failures (default, or ZO_LOG_LEVEL), 0 details, 1 successes, 2 tracing")
        ->type_name("N")
        ->check(CLI::Range(-2, 2));
    m_app.add_flag("--json", m_globals.json, "Print one JSON document on standard output");

    std::map<std::string, CLI::App*> groups;
    const auto& table = CommandTable();
    m_commands.reserve(table.size());
    for (const auto& row : table) {
        const std::string path = row.path;
        const auto blank = path.find(' ');
        CLI::App* parent = &m_app;
        std::string word = path;
        if (blank != std::string::npos) {
            const std::string group = path.substr(0, blank);
            word = path.substr(blank + 1);
            auto& g = groups[group];
            if (!g) {
                g = m_app.add_subcommand(group, kGroupSummaries.at(group));
                g->require_subcommand(1);
            }
            parent = g;
        }
        CLI::App* sub = parent->add_subcommand(word, row.summary);
        sub->footer(std::string("Examples:\n") + row.examples);
        m_commands.push_back(Bound{sub, &row, {}});
        for (Param p : row.params) Bind(m_commands.back(), p);
    }
}

void CliApp::Bind(Bound& bound, Param param) {
    CLI::App& sub = *bound.app;
    Args& a = m_args;
    CLI::Option* option = nullptr;
    switch (param) {
    case Param::Target: option = sub.add_option("TARGET", a.target, "Target name")->required(); break;
    case Param::Name: option = sub.add_option("NAME", a.name, "Name of the new target")->required(); break;
    case Param::Lun:
        option = sub.add_option("LUN", a.lun, "LUN id within the target")->required()->check(kLunId);
        break;
    case Param::Id:
        option = sub.add_option("ID", a.lun, "LUN id within the target")->required()->check(kLunId);
        break;
    case Param::Host: option = sub.add_option("HOST", a.host, "Host (initiator) name")->required(); break;
    case Param::From: option = sub.add_option("FROM", a.from, "Host the LUN is mapped to now")->required(); break;
    case Param::To: option = sub.add_option("TO", a.to, "Host to map the LUN to instead")->required(); break;
    case Param::Command:
        a.command = "reload";  // the service's one reload word today
        option = sub.add_option("CMD", a.command, "Reload command word, passed unchanged (default: reload)");
        break;
    case Param::Params:
        option = sub.add_option("--params", a.params, "Target parameters, passed to the service unchanged")
                     ->type_name("TEXT");
        break;
    case Param::Size:
        option = sub.add_option("--size", a.size, "Size of the new LUN: bytes, or with a K, M, G or T suffix")
                     ->type_name("SIZE")
                     ->check(kOneWord);
        break;
    case Param::Setting:
        option = sub.add_option("--setting", a.setting, "LUN setting, passed to the service unchanged")
                     ->type_name("N");
        break;
    case Param::Options:
        option = sub.add_option("--options", a.options, "Further option text for the service")->type_name("TEXT");
        break;
    case Param::Validate:
        option = sub.add_flag("--validate", a.validate, "Also check that a session validation can be sent");
        break;
    case Param::TargetFilter:
        option = sub.add_option("--target", a.targetFilter, "Only LUNs of this target")->type_name("T");
        break;
    case Param::HostFilter:
        option = sub.add_option("--host", a.hostFilter, "Only LUNs mapped to this host")->type_name("H");
        break;
    }
    bound.options.emplace_back(param, option);
}

const CommandRow* CliApp::Selected() {
    for (auto& bound : m_commands) {
        if (!bound.app->parsed()) continue;
        for (const auto& [param, option] : bound.options)
            if (option->count() > 0) m_args.given.push_back(param);
        return bound.row;
    }
    return nullptr;
}

}  // namespace zoctl
