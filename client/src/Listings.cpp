#include "ClientOperations.h"
#include "ClientSupport.h"
#include "CommandExchange.h"
#include "ListingParser.h"

#include "FXErrorUtil.h"

#include <boost/format.hpp>

#include <algorithm>
#include <iterator>
#include <utility>

using namespace ZoScsiSrvClientInternal;

namespace {

// Puts the output lines of a listing response in front of `lines` (an absent
// list is no lines), then logs every string of `lines`, the earlier ones too.
// The response is dropped afterwards, so its strings are moved, not copied.
void TakeOutputLines(const Operation& op, const Reply& reply, std::vector<std::string>& lines) {
    std::vector<std::string>* output = reply.message->getliststring(
        W::kIoctlOutput.first, W::kIoctlOutput.second, op.message.responseType, W::kIoctlOutput.key, false);
    if (output && lines.empty())
        lines.swap(*output);
    else if (output)
        lines.insert(lines.begin(), std::make_move_iterator(output->begin()), std::make_move_iterator(output->end()));
    const char* const writer = op.lineWriter;
    std::for_each(lines.begin(), lines.end(),
                  [writer](const std::string& line) { ZO_CLIENT_LOG(0, writer, "%s", line.c_str()); });
}

// Parses the lines of a LUN listing into `luns` and logs every record; the
// lines are released as they are read.
void TakeLuns(const char* recordWriter, std::vector<std::string>& lines,
              std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    ParseListLunOutput(std::move(lines), luns);
    std::for_each(luns.begin(), luns.end(), [recordWriter](const ZoScsiSrvClient::LunInfo_t& lun) {
        ZO_CLIENT_LOG(0, recordWriter, "%s", lun.str().c_str());
    });
}

}  // namespace

CYbError ZoScsiSrvClient::ListLuns(const std::string& command, const std::string& arguments,
                                   std::vector<std::string>& lines) {
    const Operation& op = kListLuns;
    Reply reply;
    CYbError error = RunCommand(op, command, &arguments, reply,
                                [this](const Operation& o, CNMessageBase& m, Reply& r) { return Exchange(o, m, r); });
    if (error.IsError()) return error;
    TakeOutputLines(op, reply, lines);
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::ListTargets(const std::string& command, std::vector<std::string>& targets) {
    const Operation& op = kListTargets;
    Reply reply;
    CYbError error = RunCommand(op, command, nullptr, reply,
                                [this](const Operation& o, CNMessageBase& m, Reply& r) { return Exchange(o, m, r); });
    if (error.IsError()) return error;
    TakeOutputLines(op, reply, targets);
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::ListLuns(std::vector<LunInfo>& luns, const std::string& targetId,
                                   const std::string& hostId) {
    static const std::string CMD_LIST_LUNS = "ll";
    const Composite& op = kListAllLuns;
    const auto tracer = StartTracer(op.function, __LINE__);
    std::string arguments = "-h " + m_strClientName;
    if (!targetId.empty()) arguments += " -ti " + targetId;
    if (!hostId.empty()) arguments += " -hi " + hostId;

    std::vector<std::string> lines;
    CYbError error = ListLuns(CMD_LIST_LUNS, arguments, lines);
    if (error.IsError()) return error.Push(ZO_CLIENT_HERE(op.function), "Failed to list luns.");
    TakeLuns(op.recordWriter, lines, luns);
    return CYbError::Success();
}

CYbError ZoScsiSrvClient::ListLunsByTarget(const std::string& targetId, std::vector<LunInfo>& luns) {
    static const char CMD_LIST_BY_TGT[] = "llt";
    const Composite& op = kListLunsByTarget;
    const auto tracer = StartTracer(op.function, __LINE__);
    if (targetId.empty())
        return FXErrorUtil::ErrorErrNo(ZO_CLIENT_HERE(op.function), kEmptyIdentifier, "Empty target id.");
    const std::string arguments =
        (boost::format("-h %s -%s -ti %s") % m_strClientName % CMD_LIST_BY_TGT % targetId).str();
    return _ListLunsBy(CMD_LIST_BY_TGT, arguments, "target", targetId, luns);
}

CYbError ZoScsiSrvClient::ListLunsByHost(const std::string& hostId, std::vector<LunInfo>& luns) {
    static const char CMD_LIST_BY_HOST[] = "llh";
    const Composite& op = kListLunsByHost;
    const auto tracer = StartTracer(op.function, __LINE__);
    if (hostId.empty()) return FXErrorUtil::ErrorErrNo(ZO_CLIENT_HERE(op.function), kEmptyIdentifier, "Empty host id.");
    const std::string arguments =
        (boost::format("-h %s -%s -hi %s") % m_strClientName % CMD_LIST_BY_HOST % hostId).str();
    return _ListLunsBy(CMD_LIST_BY_HOST, arguments, "host", hostId, luns);
}

CYbError ZoScsiSrvClient::_ListLunsBy(const std::string& command, const std::string& arguments,
                                      const std::string& filterKind, const std::string& filterValue,
                                      std::vector<LunInfo>& luns) {
    const Composite& op = kListLunsBy;
    std::vector<std::string> lines;
    CYbError error = ListLuns(command, arguments, lines);
    if (error.IsError())
        return error.Push(ZO_CLIENT_HERE(op.function), "Failed to list luns by %s for %s [%s]", filterKind.c_str(),
                          filterKind.c_str(), filterValue.c_str());
    TakeLuns(op.recordWriter, lines, luns);
    return CYbError::Success();
}
