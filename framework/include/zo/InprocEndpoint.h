// InprocEndpoint: an in-process service endpoint whose behaviour a program
// scripts. Registered under "inproc:NAME", it serves launcher requests whose
// registry entry names it (ZO_SERVICE_<service>=inproc:NAME) and connections
// made to it. Every message crosses it as encoded bytes, so what it records is
// what a real peer would have decoded.
//
// It lets a test reach every failure a caller must handle without real
// waiting: a failing or timed-out send, a failing or timed-out receive, any
// response, or no response at all (a receive with a time limit then times out
// at once; one without a limit fails, since it could never complete).
#pragma once

#include "../CNMessageBase.h"
#include "../CYbError.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zo {

class InprocEndpoint {
public:
    enum class SendOutcome { Deliver, Fail, TimeOut, FailWithTimeOutFlag };
    enum class ReceiveOutcome { Reply, Fail, TimeOut };

    // Builds the reply to a request; return null for no reply.
    using Responder = std::function<std::unique_ptr<CNMessageBase>(const CNMessageBase& request)>;

    explicit InprocEndpoint(const std::string& name);
    ~InprocEndpoint();  // unregisters; connections to it turn not good

    InprocEndpoint(const InprocEndpoint&) = delete;
    InprocEndpoint& operator=(const InprocEndpoint&) = delete;

    std::string Endpoint() const;  // "inproc:NAME"

    // Launcher side.
    void SetSubmitError(const CYbError& error);     // SubmitTask returns it
    void SetLaunchErrorNumber(long long number);    // written to the details
    void SetSessionId(const std::string& id);       // default "inproc-session"
    void SetServiceName(const std::string& name);   // default: the requested one
    void SetAttachError(const CYbError& error);     // Attach returns it
    int SubmitCount() const;
    int AttachCount() const;
    std::vector<std::string> LaunchClientNames() const;  // client name of each SubmitTask

    // Connection side. Outcomes are taken one per call, in order; when none is
    // queued the default (Deliver / Reply) applies.
    void QueueSend(SendOutcome outcome);
    void QueueReceive(ReceiveOutcome outcome);
    void SetResponder(Responder responder);
    void QueueReply(std::unique_ptr<CNMessageBase> reply);  // used before the responder
    void SetConnectionGood(bool good);

    // What arrived: decoded copies of every delivered message, in order.
    std::vector<std::unique_ptr<CNMessageBase>> TakeRequests();
    size_t RequestCount() const;
    int SendCalls() const;
    int ReceiveCalls() const;

    // Internal: used by the launcher and the transport.
    static std::shared_ptr<InprocEndpoint> Lookup(const std::string& name);
    struct State;
    std::shared_ptr<State> SharedState() const { return m_state; }

private:
    std::string m_name;
    std::shared_ptr<State> m_state;
};

}  // namespace zo
