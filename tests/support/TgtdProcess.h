// What the tests and the benchmarks share to run a tgtd of their own: the
// tgtadm of an operator on a given control port, finding the tgtd that
// serves a port, and starting one in the foreground on a private control
// port and loopback portal (never through a shell).
#pragma once

#include "backend/tgt/Process.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace zotest {

constexpr const char* kTgtdPath = "/usr/sbin/tgtd";
constexpr const char* kTgtadmPath = "/usr/sbin/tgtadm";

// tgtd's control socket file for `controlPort`.
std::string TgtdSocketPath(int controlPort);
// Removes the socket and lock files a tgtd on `controlPort` leaves behind.
void RemoveTgtdSockets(int controlPort);

// tgtadm on `controlPort` with `words` ("--mode", "target", ...), within 30 s;
// `outputCap` bytes of its output are kept.
zoscsi::tgt::ProcessResult Tgtadm(int controlPort, const std::vector<std::string>& words,
                                  size_t outputCap = 1u << 20);

// The pid of a tgtd serving `controlPort`, whoever started it, other than
// `except`; 0 when none.
pid_t FindTgtd(int controlPort, pid_t except = 0);

// Starts tgtd -f on `controlPort` serving `portal` (HOST:PORT), its output
// appended to `log`, and waits until it answers and serves exactly that
// portal. False with the reason; a tgtd that did not come up is killed.
bool StartTgtd(int controlPort, const std::string& portal, const std::string& log, zoscsi::tgt::ChildProcess& child,
               std::string& error);

}  // namespace zotest
