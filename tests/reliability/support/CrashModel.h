// CrashModel: clients that mutate a service until it is killed, and the
// check, after the restart, that the inventory holds what they were told.
//
// Each client owns one target, so the expected state of its target follows
// from its own acknowledged operations alone: LUNs created (ids from the
// answers), hosts mapped and unmapped, LUNs deleted. The one operation that
// got no answer (the kill came first) may be in the inventory entirely or
// not at all.
#pragma once

#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zorel {

struct Pending {
    enum Kind { None, AddTarget, CreateLun, Map, Unmap, DeleteLun } kind = None;
    int id = 0;
    std::string host;
};

struct ClientModel {
    std::string target;
    bool targetKnown = false;
    LunHosts luns;    // what the acknowledged operations left
    Pending pending;  // the operation that got no answer
    long acknowledged = 0;
    std::vector<std::string> faults;  // answers the model cannot explain
};

// Attaches (through the registry) and mutates the client's target until the
// connection breaks.
void MutateUntilKilled(ClientModel& model, uint32_t seed);

// Checks the listed state of the client's target against its model, with the
// pending operation done or not (a gtest failure otherwise), and takes the
// listed state on.
void Reconcile(ClientModel& model, const InventoryView& view, const std::vector<std::string>& targets);

// A run of kill cycles: start the service (checking every client's model
// against what it lists), let the clients mutate, SIGKILL it at a random
// moment; now and then kill it while it is still starting instead. A last
// start checks the last kill too.
struct KillRun {
    long kills = 200;
    long clients = 3;
    uint32_t seed = 1;
    unsigned earlyKillPercent = 10;          // cycles killed while the service starts
    unsigned windowMicros = 50000;           // the kill comes within this after the clients start
    std::function<void(const InventoryView&)> afterRestart;  // further checks after each start

    long early = 0;         // figures of the run
    long inFlight = 0;
    long acknowledged = 0;
    double seconds = 0;
};

// Fails the current test (and stops) on the first fault.
void RunKillCycles(ServiceProcess& service, KillRun& run);

}  // namespace zorel
