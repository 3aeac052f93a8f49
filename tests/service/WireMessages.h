// WireMessages: requests built and answers read the way a client does, from
// the shared wire schema (ZoScsiServer.h), for tests of the dispatcher.
#pragma once

#include "CNMessageBase.h"
#include "ZoScsiServer.h"

#include <memory>
#include <string>
#include <vector>

namespace wire {

namespace W = ZoScsiServer::Wire;

struct Header {
    long long value = 1;
    long long opCtxFlags = 0;
    long long fabric = ZoScsiServer::ISCSI;
};

class Request {
public:
    explicit Request(const W::Message& def, Header header = Header())
        : m_def(def), m_message(std::make_unique<CNMessageBase>(W::kGroup, def.id)) {
        CNMessageBase* h = m_message->getObjectAccessor(true, true, W::kHeaderObject.first, W::kHeaderObject.second,
                                                       def.requestType, W::kHeaderObject.key, W::kGroup, W::kHeaderId);
        h->setint64(W::kHeaderValue.first, W::kHeaderValue.second, header.value, W::kHeaderType, W::kHeaderValue.key);
        h->setint64(W::kHeaderOpCtxFlags.first, W::kHeaderOpCtxFlags.second, header.opCtxFlags, W::kHeaderType,
                    W::kHeaderOpCtxFlags.key);
        h->setint64(W::kHeaderFabric.first, W::kHeaderFabric.second, header.fabric, W::kHeaderType, W::kHeaderFabric.key);
    }
    // A request without the header object.
    Request(const W::Message& def, std::nullptr_t)
        : m_def(def), m_message(std::make_unique<CNMessageBase>(W::kGroup, def.id)) {}

    Request& Str(const W::Field& f, const std::string& value) {
        m_message->setstring(f.first, f.second, value, m_def.requestType, f.key);
        return *this;
    }
    Request& Int(const W::Field& f, long long value) {
        m_message->setint64(f.first, f.second, value, m_def.requestType, f.key);
        return *this;
    }
    Request& Options(const std::string& text) {
        CNMessageBase* o = m_message->getObjectAccessor(true, true, W::kCreateLunOptions.first, W::kCreateLunOptions.second,
                                                       m_def.requestType, W::kCreateLunOptions.key, W::kGroup, W::kOptionId);
        o->setstring(W::kOptionText.first, W::kOptionText.second, text, W::kOptionType, W::kOptionText.key);
        return *this;
    }
    const CNMessageBase& message() const { return *m_message; }
    CNMessageBase& mutableMessage() { return *m_message; }

private:
    W::Message m_def;
    std::unique_ptr<CNMessageBase> m_message;
};

inline const CNMessageBase* Status(const CNMessageBase& answer, const W::Message& def) {
    const CNField* field = answer.FindField(def.responseType, W::kStatusKey);
    return field && field->kind == CNFieldKind::Object ? field->object.get() : nullptr;
}

inline long long ErrorNumber(const CNMessageBase& answer, const W::Message& def) {
    const CNMessageBase* status = Status(answer, def);
    const CNField* number = status ? status->FindField(W::kStatusType, W::kStatusErrorNumber.key) : nullptr;
    return number ? number->i64 : -999;
}

inline std::string ErrorText(const CNMessageBase& answer, const W::Message& def) {
    const CNMessageBase* status = Status(answer, def);
    const CNField* text = status ? status->FindField(W::kStatusType, W::kStatusErrorText.key) : nullptr;
    return text ? text->str : "<no text>";
}

inline std::vector<std::string> Output(const CNMessageBase& answer) {
    const CNField* field = answer.FindField(W::kIoctl.responseType, W::kIoctlOutput.key);
    return field ? field->list : std::vector<std::string>{};
}

inline Request Ioctl(const std::string& word, const std::string& arguments) {
    Request r(W::kIoctl);
    r.Str(W::kIoctlCommand, word).Str(W::kIoctlArguments, arguments);
    return r;
}

}  // namespace wire
