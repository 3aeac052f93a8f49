#include "CZoNetwork.h"

#include "Config.h"
#include "Endpoint.h"
#include "FXErrorUtil.h"
#include "InprocState.h"
#include "LogWriter.h"
#include "MessageFrame.h"
#include "SocketTransport.h"
#include "WholeNumber.h"
#include "zo/Limits.h"
#include "zo/TlsSettings.h"
#include "zo/Transport.h"
#include "zo/XmlCodec.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr const char* kFile = "CZoNetwork";
constexpr const char* kSendFunction = "CYbError CZoNetwork::SendXMLMessage(CNMessageBase&, unsigned int, int, bool&)";
constexpr const char* kReceiveFunction =
    "CYbError CZoNetwork::ReceiveXMLMessage(unsigned long*, CNMessageBase*&, zosHostProtocolHeader*, unsigned int, "
    "int, bool&)";
constexpr const char* kConnectFunction = "CYbError CZoNetwork::Connect(const string&, int)";

// Buffers up to this size are kept for the next message; larger ones (a big
// listing) are given back once used.
constexpr size_t kKeptBufferBytes = 1u << 20;

void ReleaseIfLarge(std::string& buffer) {
    if (buffer.capacity() > kKeptBufferBytes) std::string().swap(buffer);
}

CYbError Failure(const char* function, int line, int code, const std::string& text) {
    return FXErrorUtil::Make(FXCodeLocation(kFile, function, line), FXErrorSpace::ErrNo, static_cast<unsigned>(code),
                             text);
}

// The receive limit of a new connection: ZO_RECEIVE_TIMEOUT, else [Network]
// ReceiveTimeoutSeconds; -1 (none) when neither is set. A value that is not
// -1 or a whole number of seconds from 1 is reported and leaves no limit.
int ConfiguredReceiveLimit() {
    constexpr long kMaxSeconds = 86400L * 365;
    std::string text;
    const char* source = "ZO_RECEIVE_TIMEOUT";
    if (const char* env = std::getenv(source)) text = env;
    else if (zo::ConfigValue("Network", "ReceiveTimeoutSeconds", text)) source = "[Network] ReceiveTimeoutSeconds";
    else return -1;
    long seconds = 0;
    if (zo::ParseWholeNumber(text, -1, kMaxSeconds, seconds) && seconds != 0) return static_cast<int>(seconds);
    if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= -1)
        g_ptrLogWriter->Write(-1, kConnectFunction, __LINE__, 0, 0,
                              "ignoring %s \"%s\": not -1 or a whole number of seconds from 1; receives wait without limit",
                              source, text.c_str());
    return -1;
}

}  // namespace

CZoNetwork::CZoNetwork() : m_limits(std::make_unique<zo::DecodeLimits>()) {}

CZoNetwork::~CZoNetwork() = default;

bool CZoNetwork::Usable() const { return m_transport && m_transport->IsGood(); }

int CZoNetwork::IsConnectionGood() {
    if (!Usable()) return 0;
    if (m_transport->PeerClosed()) {
        m_transport->Close();
        return 0;
    }
    return 1;
}

CYbError CZoNetwork::SendXMLMessage(CNMessageBase& message, unsigned int, int timeoutSec, bool& timedOut) {
    timedOut = false;
    if (!Usable())
        return Failure(kSendFunction, __LINE__, ENOTCONN, "send on a connection that is not open or failed before");
    std::string error;
    if (!zo::EncodeFrame(message, m_limits->maxFrameBytes, m_sendBuffer, error))
        return Failure(kSendFunction, __LINE__, EMSGSIZE, error);  // nothing was sent: still good
    const zo::IoStatus status = m_transport->SendFrame(m_sendBuffer, timeoutSec, error);
    ReleaseIfLarge(m_sendBuffer);
    if (status == zo::IoStatus::Ok) return CYbError::Success();
    if (status == zo::IoStatus::TimedOut) {
        timedOut = true;  // the transport knows whether part of the frame went out
        return CYbError::Success();
    }
    timedOut = status == zo::IoStatus::FailedTimedOut;
    m_transport->Close();
    return Failure(kSendFunction, __LINE__, EIO, "send failed: " + error);
}

CYbError CZoNetwork::ReceiveXMLMessage(unsigned long* outValue, CNMessageBase*& message, zosHostProtocolHeader* header,
                                       unsigned int, int timeoutSec, bool& timedOut) {
    timedOut = false;
    message = nullptr;
    if (outValue) *outValue = 0;
    if (header) *header = zosHostProtocolHeader{};
    if (!Usable())
        return Failure(kReceiveFunction, __LINE__, ENOTCONN,
                       "receive on a connection that is not open or failed before");
    std::string error;
    if (timeoutSec < 0) timeoutSec = m_receiveLimitSec;
    const zo::IoStatus status = m_transport->ReceiveFrame(m_receiveBuffer, timeoutSec, m_limits->maxFrameBytes, error);
    if (status == zo::IoStatus::TimedOut) {
        timedOut = true;
        m_transport->Close();  // a late answer must not pass for the next one's
        return CYbError::Success();
    }
    if (status != zo::IoStatus::Ok) {
        timedOut = status == zo::IoStatus::FailedTimedOut;
        m_transport->Close();
        return Failure(kReceiveFunction, __LINE__, EIO, "receive failed: " + error);
    }
    // The payload is decoded where it lies; a large buffer is given back
    // afterwards, so that an idle connection stays small.
    const size_t received = m_receiveBuffer.size();
    std::unique_ptr<CNMessageBase> decoded =
        zo::DecodeMessageInPlace(&m_receiveBuffer[0], received, *m_limits, error);
    ReleaseIfLarge(m_receiveBuffer);
    if (!decoded) {
        // The stream is still framed, but a peer that sends garbage is not trusted further.
        m_transport->Close();
        return Failure(kReceiveFunction, __LINE__, EPROTO, "malformed message: " + error);
    }
    if (outValue) *outValue = received;
    message = decoded.release();
    return CYbError::Success();
}

CYbError CZoNetwork::Connect(const std::string& endpoint, int timeoutSec) {
    return Connect(endpoint, timeoutSec, zo::TlsClientSettings());
}

CYbError CZoNetwork::Connect(const std::string& endpoint, int timeoutSec, const zo::TlsClientSettings& tls) {
    Close();
    zo::EndpointAddress address;
    std::string error;
    if (!zo::ParseEndpoint(endpoint, address, error))
        return Failure(kConnectFunction, __LINE__, EINVAL, "bad endpoint \"" + endpoint + "\": " + error);
    std::unique_ptr<zo::Transport> transport;
    if (address.kind == zo::EndpointAddress::Kind::Inproc)
        transport = zo::ConnectInproc(address.name, error);
    else
        transport = zo::ConnectSocket(address, timeoutSec, tls, error);
    if (!transport) return Failure(kConnectFunction, __LINE__, ECONNREFUSED, error);
    m_transport = std::move(transport);
    m_endpoint = endpoint;
    m_receiveLimitSec = ConfiguredReceiveLimit();
    return CYbError::Success();
}

void CZoNetwork::Adopt(std::unique_ptr<zo::Transport> transport) {
    Close();
    m_transport = std::move(transport);
}

void CZoNetwork::Close() {
    if (m_transport) m_transport->Close();
    m_transport.reset();
    m_endpoint.clear();
}

void CZoNetwork::SetLimits(const zo::DecodeLimits& limits) { *m_limits = limits; }
