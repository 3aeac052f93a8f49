#include "CliApp.h"

#include <algorithm>
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
    "5 invalid argument, 6 time-out, 7 service unreachable (status: down), 8 busy (docs/CLI.md).";

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
    {"target", "Add, remove or list targets (target add, rm, ls)"},
    {"lun", "Create, open, close or remove a LUN (lun create, open, close, rm)"},
};

constexpr size_t kHelpColumn = 30;  // where CLI11 starts an option's description

std::vector<const CLI::App*> Subcommands(const CLI::App& level) {
    return level.get_subcommands([](const CLI::App*) { return true; });
}

const CLI::App* FindSubcommand(const CLI::App& level, const std::string& word) {
    for (const CLI::App* sub : Subcommands(level))
        if (sub->check_name(word)) return sub;
    return nullptr;
}

std::vector<std::string> SubcommandNames(const CLI::App& level) {
    std::vector<std::string> names;
    for (const CLI::App* sub : Subcommands(level)) names.push_back(sub->get_name());
    return names;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

// Optimal string alignment distance: insertions, deletions, substitutions
// and swaps of two neighbours each count one.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates) {
    // A long word typed at random is a different word, not a misspelling;
    // one or two edits (a third of a longer word) is a typo.
    const size_t allowed = std::max<size_t>(2, word.size() / 3);
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const auto& candidate : candidates) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance && distance < std::max(word.size(), candidate.size())) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

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
    m_app.add_option("--timeout", m_globals.timeoutSec,
                     "Give up after this many seconds, the launch included (default 120; 0: no limit)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0, kMaxTimeoutSec));
    m_globalHelp = GlobalOptionsHelp();
    m_app.set_version_flag("--version", std::string("zoscsictl ") + ZO_VERSION, "Print the program's version and exit");

    const auto& table = CommandTable();
    m_commands.reserve(table.size() * 2);
    for (const auto& row : table) {
        AddCommand(row.path, row);
        for (const char* alias : row.aliases) AddCommand(alias, row);
    }
}

CLI::App* CliApp::AddCommand(const std::string& path, const CommandRow& row) {
    const auto blank = path.find(' ');
    CLI::App* parent = &m_app;
    std::string word = path;
    if (blank != std::string::npos) {
        const std::string group = path.substr(0, blank);
        word = path.substr(blank + 1);
        CLI::App*& known = m_groups[group];
        if (!known) {
            known = m_app.add_subcommand(group, kGroupSummaries.at(group));
            known->require_subcommand(1);
            known->footer(m_globalHelp);
        }
        parent = known;
    }
    const bool alias = path != row.path;
    const std::string summary = alias ? std::string(row.summary) + " (the same as " + row.path + ")" : row.summary;
    CLI::App* sub = parent->add_subcommand(word, summary);
    sub->footer(std::string("Examples:\n") + row.examples + "\n\n" + m_globalHelp);
    m_commands.push_back(Bound{sub, &row, {}});
    for (Param p : row.params) Bind(m_commands.back(), p);
    return sub;
}

std::string CliApp::GlobalOptionsHelp() {
    std::string text = "Global options (before or after the command):";
    for (const CLI::Option* option : m_app.get_options()) {
        if (option == m_app.get_help_ptr()) continue;
        std::string head = "  " + option->get_name();
        if (!option->get_type_name().empty()) head += " " + option->get_type_name();
        // As CLI11 lays out options: a head too long for its column puts the
        // description on a line of its own.
        if (head.size() < kHelpColumn) head.append(kHelpColumn - head.size(), ' ');
        else head += "\n" + std::string(kHelpColumn, ' ');
        text += "\n" + head + option->get_description();
    }
    return text;
}

CliApp::CommandWords CliApp::ReadCommandWords(const std::vector<std::string>& args) const {
    CommandWords words;
    const CLI::App* level = &m_app;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            // An option; a global one may take the next word as its value.
            const CLI::Option* option = m_app.get_option_no_throw(arg.substr(0, arg.find('=')));
            if (option && arg.find('=') == std::string::npos && option->get_expected_min() > 0) ++i;
            continue;
        }
        const CLI::App* sub = FindSubcommand(*level, arg);
        if (!sub) {
            const std::string shown = words.path.empty() ? arg : words.path + " " + arg;
            const std::string close = ClosestWord(arg, SubcommandNames(*level));
            words.problem = "unknown command '" + shown + "'";
            words.problem += close.empty() ? "; commands: " + Joined(SubcommandNames(*level))
                                           : "; did you mean '" + (words.path.empty() ? close : words.path + " " + close) + "'?";
            return words;
        }
        words.path += (words.path.empty() ? "" : " ") + arg;
        level = sub;
        if (Subcommands(*level).empty()) return words;
    }
    if (words.path.empty())
        words.problem = "no command given; commands: " + Joined(SubcommandNames(*level));
    else
        words.problem = "'" + words.path + "' needs a command: " + Joined(SubcommandNames(*level));
    return words;
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
    case Param::Long:
        option = sub.add_flag("-l,--long", a.longListing, "Also show each LUN's size, state (open or closed) and export");
        break;
    case Param::Force:
        option = sub.add_flag("--force", a.force, "Kill the instance when it does not stop within 2 s");
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
