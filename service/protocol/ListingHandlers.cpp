#include "protocol/Handlers.h"

#include "common/Names.h"
#include "protocol/OptionText.h"

namespace zoscsi {
namespace {

// Bytes of lines in one page of the detailed listing: far below the answer
// frame, so that a page with the longest lines of a last LUN still fits.
constexpr size_t kDetailPageBytes = 4u << 20;

// Target names are stored in lower case and created from any case, so the
// target filter is folded the same way; host names match exactly.
LunFilter FilterOf(const ServiceRequest& request) {
    return LunFilter{FoldTargetName(request.options.Value("-ti")), request.options.Value("-hi")};
}

// "-from TARGET/ID": the LUN a page starts at, as the page before named it.
ServiceStatus ParseCursor(const std::string& text, LunKey& key) {
    if (text.empty()) return ServiceStatus::Ok();
    const size_t slash = text.rfind('/');
    int64_t id = 0;
    if (slash == std::string::npos || !ParseDecimal(text.substr(slash + 1), id) || id < 0 || id > kMaxLunId)
        return Invalid("-from " + Quote(text) + " is not TARGET/ID");
    key = LunKey{FoldTargetName(text.substr(0, slash)), static_cast<int32_t>(id)};
    return ServiceStatus::Ok();
}

std::string Field(int64_t value) { return '#' + std::to_string(value); }

}  // namespace

ServiceReply HandleListLuns(ServiceCore& core, const ServiceRequest& request) {
    ServiceReply reply;
    reply.status = core.inventory().ListLuns(FilterOf(request), reply.lines);
    return reply;
}

ServiceReply HandleListLunDetails(ServiceCore& core, const ServiceRequest& request) {
    LunKey from;
    ServiceReply reply(ParseCursor(request.options.Value("-from"), from));
    if (!reply.status.ok()) return reply;
    LunKey next;
    reply.status = core.inventory().ListLunDetails(FilterOf(request), from, kDetailPageBytes, reply.lines, next);
    if (reply.status.ok() && !next.target.empty())
        reply.lines.push_back("next=" + next.target + "/" + std::to_string(next.id));
    return reply;
}

ServiceReply HandleListTargets(ServiceCore& core, const ServiceRequest&) {
    ServiceReply reply;
    reply.status = core.inventory().ListTargets(reply.lines);
    return reply;
}

ServiceReply HandleListTargetDetails(ServiceCore& core, const ServiceRequest&) {
    std::vector<TargetDetails> rows;
    ServiceReply reply(core.inventory().ListTargetDetails(rows));
    for (const TargetDetails& row : rows)
        reply.lines.push_back(row.target.name + Field(row.luns) + Field(row.openLuns) + Field(row.mappings) +
                              Field(row.target.created));
    return reply;
}

}  // namespace zoscsi
