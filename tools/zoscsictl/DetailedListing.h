// The service's detailed listings, through the library's raw listing call:
//   "lld": each LUN and host it is mapped to, with its size, state and where
//          the backend exports it; delivered in pages, each ending with a
//          "next=TARGET/ID" line while more follow;
//   "ltd": each target with its counts of LUNs, open LUNs and mappings.
// Their lines are those of docs/SERVICE.md; fields are separated by '#',
// which no name can hold.
#pragma once

#include "CYbError.h"
#include "ZoScsiSrvClient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zoctl {

struct LunDetail {
    std::string target;
    std::string host;  // empty: unmapped
    std::string lun;
    int64_t created = 0;
    uint64_t sizeBytes = 0;
    bool open = false;
    std::string exportedAt;  // where the backend exports it to `host`; empty: nowhere
};

struct TargetDetail {
    std::string name;
    int64_t luns = 0;
    int64_t openLuns = 0;
    int64_t mappings = 0;
    int64_t created = 0;
};

// "target#host#lun#created#size#state#export"; false when the line is not one.
bool ParseLunDetail(const std::string& line, LunDetail& lun);
// "name#luns#open#mappings#created"; false when the line is not one.
bool ParseTargetDetail(const std::string& line, TargetDetail& target);

// Every page of "lld" for `clientName`, with the filters that are not empty.
CYbError ListLunDetails(ZoScsiSrvClient& client, const std::string& clientName, const std::string& target,
                        const std::string& host, std::vector<LunDetail>& luns);
CYbError ListTargetDetails(ZoScsiSrvClient& client, std::vector<TargetDetail>& targets);

}  // namespace zoctl
