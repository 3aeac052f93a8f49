#include "SessionHandshake.h"

#include "CNSession.h"
#include "SessionMessages.h"

#include <cerrno>
#include <memory>

namespace zo {

namespace {

int Failed(CZoNetwork& network, int code, std::string text, std::string& error) {
    network.Close();
    error = std::move(text);
    return code;
}

}  // namespace

int PresentSession(CZoNetwork& network, const std::string& endpoint, const std::string& sessionId, int timeoutSec,
                   std::string& error, const TlsClientSettings& tls) {
    CYbError result = network.Connect(endpoint, timeoutSec, tls);
    if (result.IsError()) return Failed(network, ECONNREFUSED, result.Message(), error);

    CNSession::ValidateODSSessionReq request;
    FillValidateRequest(request, sessionId);
    bool timedOut = false;
    result = network.SendXMLMessage(request, 0, timeoutSec, timedOut);
    if (result.IsError()) return Failed(network, EIO, result.Message(), error);
    if (timedOut) return Failed(network, ETIMEDOUT, "sending the session to " + endpoint + " timed out", error);

    CNMessageBase* received = nullptr;
    result = network.ReceiveXMLMessage(nullptr, received, nullptr, 0, timeoutSec, timedOut);
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
