// Internals of the in-process endpoint shared by the endpoint object, its
// transport and the launcher.
#pragma once

#include "CYbError.h"
#include "zo/InprocEndpoint.h"
#include "zo/Transport.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CZoNetwork;

namespace zo {

struct LaunchOutcome;

struct InprocEndpoint::State {
    mutable std::mutex mutex;
    std::string name;
    InprocEndpoint* owner = nullptr;  // null once the endpoint is destroyed
    bool good = true;

    CYbError submitError;
    CYbError attachError;
    long long launchErrorNumber = 0;
    std::string sessionId = "inproc-session";
    std::string serviceName;  // empty: the requested one
    int submitCount = 0;
    int attachCount = 0;
    std::vector<std::string> clientNames;

    std::deque<SendOutcome> sends;
    std::deque<ReceiveOutcome> receives;
    Responder responder;
    std::deque<std::string> queuedReplies;  // encoded, waiting for a request to answer
    std::deque<std::string> pendingReplies; // encoded answers to delivered requests
    std::vector<std::unique_ptr<CNMessageBase>> requests;
    int sendCalls = 0;
    int receiveCalls = 0;
};

// The live endpoint registered under `name`, or null.
std::shared_ptr<InprocEndpoint::State> FindInprocState(const std::string& name);

// A transport to the endpoint `name`; null with the reason when none is registered.
std::unique_ptr<Transport> ConnectInproc(const std::string& name, std::string& error);

// Launcher side: what SubmitTask and Attach do for an "inproc:NAME" entry.
CYbError InprocSubmit(const std::string& name, const std::string& service, const std::string& client,
                      LaunchOutcome& outcome);
CYbError InprocAttach(const std::string& name, CZoNetwork& network);

}  // namespace zo
