// zoscsictl: the command-line tool for the node's SCSI target service.
// Parses the command line, reaches the service through ZoScsiSrvClient,
// runs one command and prints its outcome (docs/CLI.md).
#include "CliApp.h"
#include "LogGate.h"
#include "Output.h"
#include "Progress.h"
#include "Session.h"
#include "Watchdog.h"

#include "FXErrorUtil.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>

namespace {

void Write(const zoctl::Printed& printed) {
    std::fwrite(printed.out.data(), 1, printed.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(printed.err.data(), 1, printed.err.size(), stderr);
}

// Only for a command line that did not parse: whether --json was asked for.
bool MentionsJson(const std::vector<std::string>& args) {
    for (const auto& arg : args)
        if (arg == "--json") return true;
    return false;
}

zoctl::Outcome Run(const zoctl::CommandRow& row, zoctl::CliApp& cli, zoctl::ProgressLine& progress) {
    zoctl::Args& args = cli.args();
    args.json = cli.globals().json;
    const CYbError named = zoctl::ResolveClientName(cli.globals().client, args.client);
    if (named.IsError()) return zoctl::Outcome::Failed(named);
    if (row.reach == zoctl::Reach::Restart) {
        progress.Begin("stopping ZoScsiSrv for client " + args.client);
        const CYbError stopped = zoctl::StopInstance(args.client, args.force, args.stoppedPid);
        if (stopped.IsError()) return zoctl::Outcome::Failed(stopped, zoctl::Stage::Connect);
    }
    ZoScsiSrvClient client;
    const bool runningOnly = row.reach == zoctl::Reach::RunningOnly;
    progress.Begin((runningOnly ? "reaching ZoScsiSrv for client " : "starting or reaching ZoScsiSrv for client ") +
                   args.client);
    CYbError connected = zoctl::Connect(client, args.client, runningOnly);
    if (runningOnly && zoctl::NothingRuns(connected)) return zoctl::DownOutcome(args.client);
    if (connected.IsError()) {
        zoctl::SuggestRecovery(connected, args.client);
        return zoctl::Outcome::Failed(connected, zoctl::Stage::Connect);
    }
    progress.Begin(std::string("waiting for the service (") + row.path + ")");
    return row.run(client, args);
}

// A command still waiting past --timeout (and the grace for the library's own
// time-outs, which say more) is reported as timed out, and the process ends.
constexpr auto kTimeoutGrace = std::chrono::seconds(2);

void ReportTimeout(int seconds, const std::string& command, bool json, zoctl::ProgressLine& progress) {
    progress.Erase();
    const CYbError late = FXErrorUtil::ErrorErrNo(FXCodeLocation("zoscsictl", "zoscsictl --timeout", __LINE__),
                                                  ETIMEDOUT, "no answer within %d s (--timeout SECONDS; 0: no limit)",
                                                  seconds);
    const zoctl::Printed printed = zoctl::Render(zoctl::Outcome::Failed(late), command, json);
    Write(printed);
    std::fflush(stderr);
    ::_exit(printed.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    zoctl::CliApp cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        cli.app().parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return cli.app().exit(e);
    } catch (const CLI::ParseError& e) {
        // CLI11 says "A subcommand is required" for a misspelt command word;
        // the words themselves are checked first.
        const zoctl::CliApp::CommandWords words = cli.ReadCommandWords(args);
        const std::string message = words.problem.empty() ? std::string(e.what()) : words.problem;
        Write(zoctl::RenderUsageError(message + " (see --help)", words.path, MentionsJson(args)));
        return zoctl::kExitUsage;
    }
    const bool json = cli.globals().json;
    zoctl::ProgressLine progress({STDERR_FILENO, zoctl::ProgressLine::Wanted(STDERR_FILENO, json)});
    const bool levelGiven = cli.app().get_option("--log-level")->count() > 0;
    zoctl::InstallLogGate(zoctl::ResolveLogLevel(levelGiven, cli.globals().logLevel), [&] { progress.Erase(); });
    const zoctl::CommandRow* row = cli.Selected();
    const int timeoutSec = cli.globals().timeoutSec;
    zoctl::ApplyTimeout(timeoutSec);
    zoctl::Watchdog watchdog(timeoutSec > 0 ? std::chrono::seconds(timeoutSec) + kTimeoutGrace
                                            : std::chrono::milliseconds(0),
                             [&] { ReportTimeout(timeoutSec, row->path, json, progress); });
    try {
        const zoctl::Outcome outcome = Run(*row, cli, progress);
        watchdog.Disarm();
        progress.End();
        const zoctl::Printed printed = zoctl::Render(outcome, row->path, json);
        Write(printed);
        return printed.exitCode;
    } catch (const std::exception& e) {
        // The library passes the framework's exceptions (and bad_alloc) through.
        watchdog.Disarm();
        progress.End();
        std::fprintf(stderr, "zoscsictl: unexpected failure: %s\n", e.what());
        return zoctl::kExitFailure;
    }
}
