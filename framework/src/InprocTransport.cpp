// The scripted peer's side of connections and launches to "inproc:NAME".
#include "InprocState.h"

#include "CZoNetwork.h"
#include "LaunchOutcome.h"
#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

#include <cerrno>
#include <cstdint>

namespace zo {

namespace {

using State = InprocEndpoint::State;

template <typename T>
T TakeFront(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
}

class InprocTransport : public Transport {
public:
    explicit InprocTransport(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    IoStatus SendFrame(const std::string& frame, int, std::string& error) override {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        ++m_state->sendCalls;
        if (!Usable()) return Unusable(error);
        switch (TakeFront(m_state->sends, InprocEndpoint::SendOutcome::Deliver)) {
            case InprocEndpoint::SendOutcome::Deliver:
                break;
            case InprocEndpoint::SendOutcome::Fail:
                error = "scripted send failure";
                return IoStatus::Failed;
            case InprocEndpoint::SendOutcome::TimeOut:
                return IoStatus::TimedOut;
            case InprocEndpoint::SendOutcome::FailWithTimeOutFlag:
                error = "scripted send failure with the time-out flag";
                return IoStatus::FailedTimedOut;
        }
        // Decoded as a real peer would decode it, so the test sees what crossed.
        FrameView view;
        std::string frameError;
        std::unique_ptr<CNMessageBase> request;
        if (ParseFrame(frame.data(), frame.size(), SIZE_MAX, view, frameError) == FrameStatus::Complete)
            request = DecodeMessage(view.payload, view.payloadSize, DecodeLimits(), frameError);
        if (!request) {
            error = "in-process peer cannot decode the frame: " + frameError;
            return IoStatus::Failed;
        }
        if (!m_state->queuedReplies.empty()) {
            m_state->pendingReplies.push_back(std::move(m_state->queuedReplies.front()));
            m_state->queuedReplies.pop_front();
        } else if (m_state->responder) {
            // The responder may call back into the endpoint, so it runs unlocked.
            InprocEndpoint::Responder responder = m_state->responder;
            lock.unlock();
            std::unique_ptr<CNMessageBase> reply = responder(*request);
            std::string payload;
            if (reply) EncodeMessage(*reply, payload);
            lock.lock();
            if (reply) m_state->pendingReplies.push_back(std::move(payload));
        }
        m_state->requests.push_back(std::move(request));
        return IoStatus::Ok;
    }

    IoStatus ReceiveFrame(std::string& payload, int timeoutSec, size_t maxPayload, std::string& error) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        ++m_state->receiveCalls;
        if (!Usable()) return Unusable(error);
        switch (TakeFront(m_state->receives, InprocEndpoint::ReceiveOutcome::Reply)) {
            case InprocEndpoint::ReceiveOutcome::Reply:
                break;
            case InprocEndpoint::ReceiveOutcome::Fail:
                error = "scripted receive failure";
                return IoStatus::Failed;
            case InprocEndpoint::ReceiveOutcome::TimeOut:
                return IoStatus::TimedOut;
        }
        if (m_state->pendingReplies.empty()) {
            if (timeoutSec >= 0) return IoStatus::TimedOut;
            error = "no reply is scripted and the receive has no time limit";
            return IoStatus::Failed;
        }
        if (m_state->pendingReplies.front().size() > maxPayload) {
            error = "scripted reply exceeds the frame limit";
            return IoStatus::Failed;
        }
        payload.swap(m_state->pendingReplies.front());
        m_state->pendingReplies.pop_front();
        return IoStatus::Ok;
    }

    bool IsGood() const override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return Usable();
    }

    void Close() override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_closed = true;
    }

private:
    bool Usable() const { return !m_closed && m_state->owner && m_state->good; }

    IoStatus Unusable(std::string& error) const {
        error = m_state->owner ? "in-process connection is not good" : "in-process endpoint is gone";
        return IoStatus::Failed;
    }

    std::shared_ptr<State> m_state;
    bool m_closed = false;  // guarded by the state's mutex
};

}  // namespace

std::unique_ptr<Transport> ConnectInproc(const std::string& name, std::string& error) {
    std::shared_ptr<State> state = FindInprocState(name);
    if (!state) {
        error = "no in-process endpoint named " + name;
        return nullptr;
    }
    return std::make_unique<InprocTransport>(std::move(state));
}

CYbError InprocSubmit(const std::string& name, const std::string& service, const std::string& client,
                      LaunchOutcome& outcome) {
    outcome.endpoint = "inproc:" + name;
    std::shared_ptr<State> state = FindInprocState(name);
    if (!state) {
        outcome.errorNumber = ECONNREFUSED;  // like a service that is not running
        return CYbError::Success();
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    ++state->submitCount;
    state->clientNames.push_back(client);
    outcome.errorNumber = state->launchErrorNumber;
    outcome.sessionId = state->sessionId;
    outcome.serviceName = state->serviceName.empty() ? service : state->serviceName;
    return state->submitError;
}

CYbError InprocAttach(const std::string& name, CZoNetwork& network) {
    std::shared_ptr<State> state = FindInprocState(name);
    if (state) {
        std::lock_guard<std::mutex> lock(state->mutex);
        ++state->attachCount;
        if (state->attachError.IsError()) return state->attachError;
    }
    return network.Connect("inproc:" + name, 0);
}

}  // namespace zo
