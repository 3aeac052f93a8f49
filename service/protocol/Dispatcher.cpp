#include "protocol/Dispatcher.h"

#include "common/ServiceLog.h"
#include "protocol/MessageCodec.h"
#include "zo/XmlCodec.h"

#include <algorithm>

namespace zoscsi {
namespace {

using ZoScsiServer::kErrInventory;
using ZoScsiServer::kErrUnknownRequest;
using ZoScsiServer::Wire::kGroup;

const OptionRule kClient{"-h", true, false};

const std::vector<Route> kRoutes = {
    {&schema::kStartScsiService, nullptr, nullptr, {}, &HandleStartService},
    {&schema::kCreateTarget, nullptr, nullptr, {}, &HandleCreateTarget},
    {&schema::kDeleteTarget, nullptr, nullptr, {}, &HandleDeleteTarget},
    {&schema::kCreateLun, nullptr, &ServiceRequest::optionText, {{"-s", true, false}, {"-li", true, false}},
     &HandleCreateLun},
    {&schema::kDeleteLun, nullptr, nullptr, {}, &HandleDeleteLun},
    {&schema::kMapLun2Host, nullptr, nullptr, {}, &HandleMapHost},
    {&schema::kUnMapLun2Host, nullptr, nullptr, {}, &HandleUnmapHost},
    {&schema::kIoctl, "ll", &ServiceRequest::arguments, {kClient, {"-ti", true, false}, {"-hi", true, false}},
     &HandleListLuns},
    {&schema::kIoctl, "llt", &ServiceRequest::arguments, {kClient, {"-llt", false, false}, {"-ti", true, true}},
     &HandleListLuns},
    {&schema::kIoctl, "llh", &ServiceRequest::arguments, {kClient, {"-llh", false, false}, {"-hi", true, true}},
     &HandleListLuns},
    {&schema::kIoctl, "lld", &ServiceRequest::arguments,
     {kClient, {"-ti", true, false}, {"-hi", true, false}, {"-from", true, false}}, &HandleListLunDetails},
    {&schema::kIoctl, "lt", &ServiceRequest::arguments, {kClient}, &HandleListTargets},
    {&schema::kIoctl, "ltd", &ServiceRequest::arguments, {kClient}, &HandleListTargetDetails},
    {&schema::kIoctl, "reload", &ServiceRequest::arguments, {kClient}, &HandleReload},
    {&schema::kIoctl, "status", &ServiceRequest::arguments, {kClient}, &HandleStatus},
};

const Route kUnknownRoute{&schema::kUnknownRequest, nullptr, nullptr, {}, nullptr};

const Route* FindRoute(int group, int id) {
    if (group != kGroup) return nullptr;
    for (const Route& route : kRoutes)
        if (route.schema->message.id == id) return &route;
    return nullptr;
}

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos) return std::string();
    return text.substr(start, text.find_last_not_of(' ') - start + 1);
}

const Route* FindWord(const Route& first, const std::string& word) {
    for (const Route& route : kRoutes)
        if (route.schema == first.schema && route.word && word == route.word) return &route;
    return nullptr;
}

std::string KnownWords(const Route& first) {
    std::string words;
    for (const Route& route : kRoutes)
        if (route.schema == first.schema && route.word) words += std::string(words.empty() ? "" : " ") + route.word;
    return words;
}

std::string RouteName(const Route& route, bool resolved) {
    std::string name = route.schema->name;
    return route.word && resolved ? name + " " + route.word : name;
}

}  // namespace

const std::vector<Route>& Routes() { return kRoutes; }

Dispatcher::Dispatcher(ServiceCore& core, size_t maxAnswerBytes) : m_core(core), m_maxAnswerBytes(maxAnswerBytes) {}

ServiceReply Dispatcher::Run(const Route& first, const CNMessageBase& message, const Route*& used) {
    ServiceRequest request;
    ServiceStatus status = DecodeRequest(message, *first.schema, request);
    if (!status.ok()) return {status};
    const Route* route = &first;
    if (first.word) {
        const std::string word = Trimmed(request.command);
        route = FindWord(first, word);
        if (!route)
            return {ServiceStatus::Fail(kErrUnknownRequest, "unknown command word " + Quote(word) +
                                                                "; known: " + KnownWords(first))};
    }
    used = route;
    if (route->optionText) {
        const std::string what = route->word ? "arguments of " + std::string(route->word) : "LUN options";
        status = ParseOptions(what.c_str(), request.*(route->optionText), route->options, request.options);
        if (!status.ok()) return {status};
    }
    return route->handle(m_core, request);
}

std::unique_ptr<CNMessageBase> Dispatcher::Handle(const CNMessageBase& message) {
    const Route* first = FindRoute(message.Group(), message.Id());
    ServiceReply reply;
    const Route* used = nullptr;
    if (!first) {
        reply.status = ServiceStatus::Fail(kErrUnknownRequest, "unknown request: message group " +
                                                                   std::to_string(message.Group()) + ", id " +
                                                                   std::to_string(message.Id()));
    } else {
        try {
            reply = Run(*first, message, used);
        } catch (const std::exception& error) {
            reply = ServiceReply{ServiceStatus::Fail(kErrInventory, "internal failure: " + std::string(error.what()))};
        } catch (...) {
            reply = ServiceReply{ServiceStatus::Fail(kErrInventory, "internal failure")};
        }
    }
    const Route& route = used ? *used : first ? *first : kUnknownRoute;
    if (!reply.status.ok())
        ServiceLog(reply.status.number == kErrInventory || reply.status.number == ZoScsiServer::kErrBackend ? -1 : 0,
                   "Dispatcher", RouteName(route, used != nullptr) + " answered " + std::to_string(reply.status.number) +
                                     ": " + reply.status.text);
    const size_t lines = reply.lines.size();
    std::unique_ptr<CNMessageBase> answer = EncodeReply(*route.schema, std::move(reply));
    if (lines > 0) LimitAnswer(route, answer, lines);
    return answer;
}

void Dispatcher::LimitAnswer(const Route& route, std::unique_ptr<CNMessageBase>& answer, size_t lines) {
    // Most answers are far below the bound: measure only when a cheap upper
    // estimate is above it. A line of plain printable ASCII without & < >
    // goes out as it is, inside <e></e>; any other line is counted as if
    // every byte were escaped, with a generous overhead.
    const CNField* output = nullptr;
    for (const CNField& field : answer->Fields())
        if (field.kind == CNFieldKind::StringList) output = &field;
    auto plain = [](const std::string& line) {
        for (const char c : line)
            if (c < 0x20 || c > 0x7E || c == '&' || c == '<' || c == '>') return false;
        return true;
    };
    size_t estimate = 4096;
    if (output)
        for (const std::string& line : output->list) estimate += plain(line) ? line.size() + 16 : 6 * line.size() + 64;
    if (estimate <= m_maxAnswerBytes) return;
    std::string encoded;
    zo::EncodeMessage(*answer, encoded);
    if (encoded.size() <= m_maxAnswerBytes) return;
    const std::string text = "the answer of " + std::to_string(lines) + " lines (" + std::to_string(encoded.size()) +
                             " bytes) exceeds the frame limit of " + std::to_string(m_maxAnswerBytes) +
                             " bytes; narrow it with -ti or -hi";
    ServiceLog(0, "Dispatcher", RouteName(route, true) + ": " + text);
    answer = EncodeReply(*route.schema, ServiceReply{LimitReached(text)});
}

}  // namespace zoscsi
