// Canned answers of the service, built as the service builds them: the
// status object at the message's status pair, and the reply fields.
#pragma once

#include "CNMessageBase.h"
#include "ZoScsiServer.h"
#include "support/SeedInventory.h"

#include <memory>
#include <string>
#include <vector>

namespace zobench {

// A success answer to `message` (error number 0, empty text).
inline std::unique_ptr<CNMessageBase> SuccessAnswer(const ZoScsiServer::Wire::Message& message) {
    namespace W = ZoScsiServer::Wire;
    auto answer = std::make_unique<CNMessageBase>(W::kGroup, message.responseId);
    CNMessageBase* status = answer->getObjectAccessor(true, true, message.statusFirst, message.statusSecond,
                                                      message.responseType, W::kStatusKey, W::kGroup, W::kStatusId);
    status->setint64(W::kStatusErrorNumber.first, W::kStatusErrorNumber.second, 0, W::kStatusType,
                     W::kStatusErrorNumber.key);
    status->setstring(W::kStatusErrorText.first, W::kStatusErrorText.second, "", W::kStatusType,
                      W::kStatusErrorText.key);
    return answer;
}

// A success answer to a listing command carrying `lines`.
inline std::unique_ptr<CNMessageBase> ListingAnswer(std::vector<std::string> lines) {
    namespace W = ZoScsiServer::Wire;
    std::unique_ptr<CNMessageBase> answer = SuccessAnswer(W::kIoctl);
    answer->setliststring(W::kIoctlOutput.first, W::kIoctlOutput.second, std::move(lines), W::kIoctl.responseType,
                          W::kIoctlOutput.key);
    return answer;
}

// Listing lines as the service prints them: target#host#lun#creation-epoch,
// `count` of them over targets of 10,000 LUNs each, one host per LUN.
inline std::vector<std::string> ListingLines(size_t count) {
    std::vector<std::string> lines;
    lines.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t target = i / 10000;
        const size_t lun = i % 10000 + 1;
        lines.push_back("iqn.2024-01.test.bench:t" + std::string(target < 10 ? "0" : "") + std::to_string(target) +
                        "#" + SeedHostName(static_cast<int>(lun % 1000)) + "#" + std::to_string(lun) + "#" +
                        std::to_string(1700000000 + lun));
    }
    return lines;
}

}  // namespace zobench
