// ServiceProcess: one zoscsisrv run by hand (--foreground) in a folder of
// the test's own, the way an operator or the launcher would run it, so that
// a test can feed it hostile bytes, kill it at any moment and start it again
// on the same inventory.
//
// The folder holds zo.conf (the [ZoScsiSrv] settings the test gives), the
// socket folder run/ and the state folder state/; the service's standard
// output and error go to service.log there. The program is spawned from an
// argument vector (posix_spawn), never through a shell.
//
// No shell may ever run on the service's behalf: its PATH starts with
// FOLDER/trap, where sh, bash and dash are a trap that records each call in
// FOLDER/shell-trap.log and fails. The destructor fails the current test
// when the trap was sprung.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace zorel {

struct ServiceOptions {
    std::string folder;                    // empty: a fresh temporary folder, removed with the object
    std::string client = "rel";
    std::string session = "reliability-session-0123456789";  // empty: none; else given in FOLDER/session (0600)
    std::string backend = "inventory";
    std::string listen;                    // default unix:FOLDER/run/zoscsisrv.sock
    bool omitListen = false;               // no --listen: the service falls back on [ZoScsiSrv] ListenTcp
    std::vector<std::pair<std::string, std::string>> settings;  // [ZoScsiSrv] KEY = VALUE
    std::string configTail;                // written as it is after the settings (e.g. a broken line)
    std::vector<std::string> arguments;    // added to the command line
    std::vector<std::string> environment;  // NAME=VALUE added to (or replacing in) the service's environment
    int logLevel = -1;                     // [Log] Level of the service
};

class ServiceProcess {
public:
    explicit ServiceProcess(ServiceOptions options);
    ~ServiceProcess();  // SIGKILLs and reaps a service still running
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // NAME=VALUE for the service's environment from the next start on.
    void AddEnvironment(const std::string& assignment) { m_options.environment.push_back(assignment); }
    // A [ZoScsiSrv] setting from the next start on.
    void AddSetting(const std::string& key, const std::string& value) { m_options.settings.emplace_back(key, value); }

    // Writes zo.conf, spawns the service and waits until its socket accepts
    // a connection. False with the reason (and the log's tail) when it
    // exited or did not listen within `limit`.
    bool Start(std::string& error, std::chrono::milliseconds limit = std::chrono::milliseconds(20000));
    // Only spawns: the service may not be listening yet (to kill it early).
    bool Spawn(std::string& error);
    // Spawns and waits for the exit; the exit status (or 128 + signal),
    // -1 when it was still running after `limit` (then it is killed).
    int RunToExit(std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

    void Signal(int signal) const;
    // SIGKILL and reap; returns once the process is gone.
    void Kill();
    // SIGTERM, then waits; the exit status, or -1 when it had to be killed.
    int Stop(std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
    bool Running();

    pid_t pid() const { return m_pid; }
    const ServiceOptions& options() const { return m_options; }
    std::string socketPath() const;  // of a unix endpoint
    std::string endpoint() const;
    std::string stateFolder() const;  // STATE/<client>
    std::string inventoryPath() const;
    std::string logText() const;
    // What the shell trap recorded ("" when no shell was run).
    std::string shellsRun() const;
    // VmRSS of the running service, in KiB (0 when it cannot be read).
    long RssKiB() const;
    // Threads of the running service (-1 when it cannot be read).
    int Threads() const;

private:
    int Reap(std::chrono::milliseconds limit);
    void SetTrap();

    ServiceOptions m_options;
    bool m_ownsFolder = false;
    pid_t m_pid = -1;
};

// The file's content ("" when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace zorel
