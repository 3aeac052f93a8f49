// Dispatcher: one table from (group, id) and, for the generic command
// message, its command word to the handler; every request gets exactly one
// answer. An unknown (group, id) is answered with the UnknownRequest message,
// an unknown command word with the Ioctl answer, both kErrUnknownRequest.
// Nothing a handler throws leaves Handle.
#pragma once

#include "CNMessageBase.h"
#include "protocol/Handlers.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zoscsi {

struct Route {
    const MessageSchema* schema;
    const char* word;                        // the Ioctl command word; null for other messages
    std::string ServiceRequest::*optionText;  // parsed against `options`; null: no options
    std::vector<OptionRule> options;
    Handler handle;
};

// The table itself (for documentation tests and the command list).
const std::vector<Route>& Routes();

class Dispatcher {
public:
    // `maxAnswerBytes`: the largest encoded answer a client will take; a
    // bigger listing is refused with kErrLimit instead.
    explicit Dispatcher(ServiceCore& core, size_t maxAnswerBytes);

    std::unique_ptr<CNMessageBase> Handle(const CNMessageBase& request);

private:
    ServiceReply Run(const Route& first, const CNMessageBase& message, const Route*& used);
    void LimitAnswer(const Route& route, std::unique_ptr<CNMessageBase>& answer, size_t lines);

    ServiceCore& m_core;
    size_t m_maxAnswerBytes;
};

}  // namespace zoscsi
