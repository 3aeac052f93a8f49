#include "InprocState.h"

#include "zo/XmlCodec.h"

#include <map>

namespace zo {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<InprocEndpoint::State>> endpoints;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::string Encode(const CNMessageBase& message) {
    std::string payload;
    EncodeMessage(message, payload);
    return payload;
}

std::unique_lock<std::mutex> Locked(const std::shared_ptr<InprocEndpoint::State>& state) {
    return std::unique_lock<std::mutex>(state->mutex);
}

}  // namespace

std::shared_ptr<InprocEndpoint::State> FindInprocState(const std::string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.endpoints.find(name);
    return it == registry.endpoints.end() ? nullptr : it->second.lock();
}

InprocEndpoint::InprocEndpoint(const std::string& name) : m_name(name), m_state(std::make_shared<State>()) {
    m_state->name = name;
    m_state->owner = this;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.endpoints[name] = m_state;  // the newest endpoint of a name wins
}

InprocEndpoint::~InprocEndpoint() {
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto it = registry.endpoints.find(m_name);
        if (it != registry.endpoints.end() && it->second.lock() == m_state) registry.endpoints.erase(it);
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->owner = nullptr;
}

std::shared_ptr<InprocEndpoint> InprocEndpoint::Lookup(const std::string& name) {
    std::shared_ptr<State> state = FindInprocState(name);
    if (!state) return nullptr;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->owner) return nullptr;
    // Shares ownership of the state, points at the endpoint: valid while it lives.
    return std::shared_ptr<InprocEndpoint>(state, state->owner);
}

std::string InprocEndpoint::Endpoint() const { return "inproc:" + m_name; }

void InprocEndpoint::SetSubmitError(const CYbError& error) {
    auto lock = Locked(m_state);
    m_state->submitError = error;
}
void InprocEndpoint::SetLaunchErrorNumber(long long number) {
    auto lock = Locked(m_state);
    m_state->launchErrorNumber = number;
}
void InprocEndpoint::SetSessionId(const std::string& id) {
    auto lock = Locked(m_state);
    m_state->sessionId = id;
}
void InprocEndpoint::SetServiceName(const std::string& name) {
    auto lock = Locked(m_state);
    m_state->serviceName = name;
}
void InprocEndpoint::SetAttachError(const CYbError& error) {
    auto lock = Locked(m_state);
    m_state->attachError = error;
}
int InprocEndpoint::SubmitCount() const {
    auto lock = Locked(m_state);
    return m_state->submitCount;
}
int InprocEndpoint::AttachCount() const {
    auto lock = Locked(m_state);
    return m_state->attachCount;
}
std::vector<std::string> InprocEndpoint::LaunchClientNames() const {
    auto lock = Locked(m_state);
    return m_state->clientNames;
}

void InprocEndpoint::QueueSend(SendOutcome outcome) {
    auto lock = Locked(m_state);
    m_state->sends.push_back(outcome);
}
void InprocEndpoint::QueueReceive(ReceiveOutcome outcome) {
    auto lock = Locked(m_state);
    m_state->receives.push_back(outcome);
}
void InprocEndpoint::SetResponder(Responder responder) {
    auto lock = Locked(m_state);
    m_state->responder = std::move(responder);
}
void InprocEndpoint::SetConnectionGood(bool good) {
    auto lock = Locked(m_state);
    m_state->good = good;
}

void InprocEndpoint::QueueReply(std::unique_ptr<CNMessageBase> reply) {
    if (!reply) return;
    std::string payload = Encode(*reply);
    auto lock = Locked(m_state);
    m_state->queuedReplies.push_back(std::move(payload));
}

std::vector<std::unique_ptr<CNMessageBase>> InprocEndpoint::TakeRequests() {
    auto lock = Locked(m_state);
    std::vector<std::unique_ptr<CNMessageBase>> taken;
    taken.swap(m_state->requests);
    return taken;
}

size_t InprocEndpoint::RequestCount() const { auto lock = Locked(m_state); return m_state->requests.size(); }
int InprocEndpoint::SendCalls() const { auto lock = Locked(m_state); return m_state->sendCalls; }
int InprocEndpoint::ReceiveCalls() const { auto lock = Locked(m_state); return m_state->receiveCalls; }

}  // namespace zo
