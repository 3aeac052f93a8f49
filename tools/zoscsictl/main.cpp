// zoscsictl: the command-line tool for the node's SCSI target service.
// Parses the command line, reaches the service through ZoScsiSrvClient,
// runs one command and prints its outcome (docs/CLI.md).
#include "CliApp.h"
#include "LogGate.h"
#include "Output.h"
#include "Session.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

void Write(const zoctl::Printed& printed) {
    std::fwrite(printed.out.data(), 1, printed.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(printed.err.data(), 1, printed.err.size(), stderr);
}

// Only for a command line that did not parse: whether --json was asked for.
bool MentionsJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0) return true;
    return false;
}

zoctl::Outcome Run(const zoctl::CommandRow& row, zoctl::CliApp& cli) {
    zoctl::Args& args = cli.args();
    const CYbError named = zoctl::ResolveClientName(cli.globals().client, args.client);
    if (named.IsError()) return zoctl::Outcome::Failed(named);
    ZoScsiSrvClient client;
    const CYbError connected = zoctl::Connect(client, args.client);
    if (connected.IsError()) return zoctl::Outcome::Failed(connected, zoctl::Stage::Connect);
    return row.run(client, args);
}

}  // namespace

int main(int argc, char** argv) {
    zoctl::CliApp cli;
    try {
        cli.app().parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return cli.app().exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.app().exit(e);
    } catch (const CLI::ParseError& e) {
        Write(zoctl::RenderUsageError(std::string(e.what()) + " (see --help)", MentionsJson(argc, argv)));
        return zoctl::kExitUsage;
    }
    const bool levelGiven = cli.app().get_option("--log-level")->count() > 0;
    zoctl::InstallLogGate(zoctl::ResolveLogLevel(levelGiven, cli.globals().logLevel));
    const zoctl::CommandRow* row = cli.Selected();
    try {
        const zoctl::Printed printed = zoctl::Render(Run(*row, cli), cli.globals().json);
        Write(printed);
        return printed.exitCode;
    } catch (const std::exception& e) {
        // The library passes the framework's exceptions (and bad_alloc) through.
        std::fprintf(stderr, "zoscsictl: unexpected failure: %s\n", e.what());
        return zoctl::kExitFailure;
    }
}
