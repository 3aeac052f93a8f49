// ScriptedService: a ZoScsiSrvClient initialised against a scripted
// in-process service (zo::InprocEndpoint), and builders of the service's
// answers. Shared by the client and bootstrap tests.
//
//   zotest::ScriptedService service;        // endpoint + env + Initialize("node1")
//   service.endpoint.QueueReply(zotest::StatusReply(0x4BA1AD42, 2, 2, 0));
//   CYbError e = service.client->AddTarget(request);
//   auto requests = service.endpoint.TakeRequests();
#pragma once

#include "CNMessageBase.h"
#include "CYbError.h"
#include "ZoScsiSrvClient.h"
#include "zo/InprocEndpoint.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace zotest {

// Wire numbers of the status object, as the service writes them.
constexpr unsigned long kStatusType = 0x4B01E1E8;
constexpr unsigned int kStatusObjectKey = 0x11145;
constexpr unsigned int kErrorNumberKey = 0x39E001;
constexpr unsigned int kErrorTextKey = 0x39F2AC;

// A response holding only a status object at (first, second).
inline std::unique_ptr<CNMessageBase> StatusReply(unsigned long responseType, short first, short second,
                                                  long long errorNumber, const std::string& errorText = "") {
    auto reply = std::make_unique<CNMessageBase>(75, 200);
    CNMessageBase* status = reply->getObjectAccessor(true, true, first, second, responseType, kStatusObjectKey, 75, 13);
    status->setint64(1, 1, errorNumber, kStatusType, kErrorNumberKey);
    status->setstring(2, 2, errorText, kStatusType, kErrorTextKey);
    return reply;
}

// A listing answer: status at (2,2) and the output lines at (3,3).
inline std::unique_ptr<CNMessageBase> ListingReply(long long errorNumber, const std::vector<std::string>& lines) {
    auto reply = StatusReply(0x4B8E42FA, 2, 2, errorNumber, errorNumber ? "refused" : "");
    reply->setliststring(3, 3, lines, 0x4B8E42FA, 0x817CAE);
    return reply;
}

// The fields of a message in order, one token each, nested objects in braces:
//   "75/15{(1,1) 4bbaa58d:11ad6=75/16{(1,1) 4b011ad6:2db4b8=1 ...}}"
// Integers in decimal, strings quoted, lists in brackets.
inline std::string Describe(const CNMessageBase& message) {
    std::string out = std::to_string(message.Group()) + "/" + std::to_string(message.Id()) + "{";
    bool first = true;
    for (const CNField& field : message.Fields()) {
        char head[64];
        std::snprintf(head, sizeof head, "(%d,%d) %lx:%x=", field.pairFirst, field.pairSecond, field.typeKey,
                      field.fieldKey);
        out += (first ? "" : " ") + std::string(head);
        first = false;
        switch (field.kind) {
            case CNFieldKind::Int64: out += std::to_string(field.i64); break;
            case CNFieldKind::String: out += "'" + field.str + "'"; break;
            case CNFieldKind::StringList: {
                out += "[";
                for (size_t i = 0; i < field.list.size(); ++i) out += (i ? "," : "") + field.list[i];
                out += "]";
                break;
            }
            case CNFieldKind::Object: out += field.object ? Describe(*field.object) : "null"; break;
        }
    }
    return out + "}";
}

// The header object of a request of type `requestType` as Describe shows it.
inline std::string HeaderField(const char* requestType, long long value, long long flags, long long fabric) {
    return std::string("(1,1) ") + requestType + ":11ad6=75/16{(1,1) 4b011ad6:2db4b8=" + std::to_string(value) +
           " (3,3) 4b011ad6:10a07=" + std::to_string(flags) + " (2,2) 4b011ad6:112e7=" + std::to_string(fabric) +
           "}";
}

// A fresh endpoint under a name of its own, the launcher pointed at it, and a
// client initialised for `clientName` (unless told not to).
class ScriptedService {
public:
    explicit ScriptedService(const std::string& clientName = "node1", bool initialize = true)
        : endpoint(NextName()), client(std::make_unique<ZoScsiSrvClient>()) {
        setenv("ZO_SERVICE_ZoScsiSrv", endpoint.Endpoint().c_str(), 1);
        if (initialize) {
            const CYbError error = client->Initialize(clientName, "test", 0);
            EXPECT_FALSE(error.IsError()) << error.ToString();
        }
    }

    // Decoded requests that reached the service since the last call.
    std::vector<std::unique_ptr<CNMessageBase>> Requests() { return endpoint.TakeRequests(); }

    // Describe() of the only request that reached the service ("none" or
    // "several" otherwise).
    std::string OnlyRequest() {
        const auto requests = Requests();
        if (requests.size() != 1) return requests.empty() ? "none" : "several";
        return Describe(*requests[0]);
    }

    zo::InprocEndpoint endpoint;
    std::unique_ptr<ZoScsiSrvClient> client;

private:
    static std::string NextName() {
        static int counter = 0;
        return "client-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    }
};

// The last frame of an error's trail: where it was pushed or made.
inline FXTrailFrame LastFrame(const CYbError& error) {
    const std::vector<FXTrailFrame> trail = error.Trail();
    return trail.empty() ? FXTrailFrame{} : trail.back();
}

}  // namespace zotest
