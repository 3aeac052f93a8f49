// Presenting a session identifier to a service: what Attach and the
// launcher's check of a live instance both do.
#pragma once

#include "CZoNetwork.h"
#include "Deadline.h"
#include "zo/TlsSettings.h"

#include <string>

namespace zo {

// Connects `network` to `endpoint` (with `tls` for a "tls:" endpoint), sends
// a validation request carrying `sessionId` and reads the answer, all by
// `deadline` (in whole seconds per step, rounded up). Returns 0 when the
// service answers with status 0; else an errno with the reason in `error`
// (ECONNREFUSED: no connection; ETIMEDOUT: no answer in time; EIO: the
// connection failed; EPROTO: an answer without a status; EACCES: the service
// refused; EBUSY: it serves as many connections as it may), and the network
// is closed.
int PresentSession(CZoNetwork& network, const std::string& endpoint, const std::string& sessionId,
                   const Deadline& deadline, std::string& error, const TlsClientSettings& tls = TlsClientSettings());

}  // namespace zo
