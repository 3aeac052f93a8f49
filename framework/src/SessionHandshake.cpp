#include "SessionHandshake.h"

#include "CNSession.h"
#include "SessionMessages.h"

#include <algorithm>
#include <cerrno>
#include <memory>

namespace zo {

namespace {

int Failed(CZoNetwork& network, int code, std::string text, std::string& error) {
    network.Close();
    error = std::move(text);
    return code;
}

// What is left of the deadline for one step, in the connection's whole seconds.
int StepSeconds(const Deadline& deadline) {
    if (deadline.Unlimited()) return -1;
    return static_cast<int>(std::max(1LL, (static_cast<long long>(deadline.PollMillis()) + 999) / 1000));
}

}  // namespace

int PresentSession(CZoNetwork& network, const std::string& endpoint, const std::string& sessionId,
                   const Deadline& deadline, std::string& error, const TlsClientSettings& tls) {
    CYbError result = network.Connect(endpoint, StepSeconds(deadline), tls);
    if (result.IsError()) return Failed(network, ECONNREFUSED, result.Message(), error);

    CNSession::ValidateODSSessionReq request;
    FillValidateRequest(request, sessionId);
    bool timedOut = false;
    result = network.SendXMLMessage(request, 0, StepSeconds(deadline), timedOut);
    if (result.IsError()) return Failed(network, EIO, result.Message(), error);
    if (timedOut) return Failed(network, ETIMEDOUT, "sending the session to " + endpoint + " timed out", error);

    CNMessageBase* received = nullptr;
    result = network.ReceiveXMLMessage(nullptr, received, nullptr, 0, StepSeconds(deadline), timedOut);
    const std::unique_ptr<CNMessageBase> answer(received);
    if (result.IsError()) return Failed(network, EIO, "no answer to the session: " + result.Message(), error);
    if (timedOut || !answer) return Failed(network, ETIMEDOUT, endpoint + " did not answer the session in time", error);

    long long number = 0;
    std::string text;
    if (!ReadSessionStatus(*answer, number, text))
        return Failed(network, EPROTO, endpoint + " answered the session with an unexpected message", error);
    if (number != 0)
        return Failed(network, number == kServiceBusy ? EBUSY : EACCES,
                      endpoint + " refused the session: " + text + " (" + std::to_string(number) + ")", error);
    return 0;
}

}  // namespace zo
