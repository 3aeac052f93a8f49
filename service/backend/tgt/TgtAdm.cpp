#include "backend/tgt/TgtAdm.h"

#include "common/ServiceLog.h"

namespace zoscsi::tgt {
namespace {

using Op = TgtCommand::Op;

// What each operation sends: its mode and op words, and which fields follow.
struct OpShape {
    Op op;
    const char* mode;
    const char* verb;
    bool tid, lun, sid, force;
    const char* textOption;  // "--X=" the text travels in, or null
};

const OpShape kShapes[] = {
    {Op::ShowTargets, "target", "show", false, false, false, false, nullptr},
    {Op::ShowPortals, "portal", "show", false, false, false, false, nullptr},
    {Op::NewTarget, "target", "new", true, false, false, false, "--targetname="},
    {Op::DeleteTarget, "target", "delete", true, false, false, true, nullptr},
    {Op::BindInitiator, "target", "bind", true, false, false, false, "--initiator-name="},
    {Op::UnbindInitiator, "target", "unbind", true, false, false, false, "--initiator-name="},
    {Op::NewLun, "logicalunit", "new", true, true, false, false, "--backing-store="},
    {Op::DeleteLun, "logicalunit", "delete", true, true, false, false, nullptr},
    {Op::SetLunIdentity, "logicalunit", "update", true, true, false, false, nullptr},
    {Op::DeleteConnection, "conn", "delete", true, false, true, false, nullptr},
    {Op::DeleteSystem, "system", "delete", false, false, false, false, nullptr},
    {Op::ShowSystem, "system", "show", false, false, false, false, nullptr},
};

const OpShape& ShapeOf(Op op) {
    for (const OpShape& shape : kShapes)
        if (shape.op == op) return shape;
    return kShapes[0];
}

// The operation's own words and fields, without the program and control
// port; a new logical unit gets the backing-store words of `store` (if any).
std::vector<std::string> Words(const TgtCommand& c, const BackingStore* store) {
    const OpShape& shape = ShapeOf(c.op);
    std::vector<std::string> words{"--mode", shape.mode, "--op", shape.verb};
    if (shape.force) words.emplace_back("--force");
    if (shape.tid) words.push_back("--tid=" + std::to_string(c.tid));
    if (shape.lun) words.push_back("--lun=" + std::to_string(c.lun));
    if (shape.sid) {
        words.push_back("--sid=" + std::to_string(c.sid));
        words.push_back("--cid=" + std::to_string(c.cid));
    }
    if (shape.textOption) words.push_back(shape.textOption + c.text);
    if (c.op == Op::NewLun && store) {
        words.push_back("--bstype=" + store->type);
        if (!store->flags.empty()) words.push_back("--bsoflags=" + store->flags);
    }
    if (c.op == Op::NewLun) words.emplace_back("--device-type=disk");
    if (c.op == Op::SetLunIdentity) words.push_back("--params=scsi_id=" + c.text + ",scsi_sn=" + c.text);
    return words;
}

std::string Text(const std::vector<std::string>& words) {
    std::string text = "tgtadm";
    for (const std::string& word : words) text += " " + word;
    return text;
}

bool SaysBusy(const std::string& message) { return message.find("still active") != std::string::npos; }

bool Answers(Op op) { return op == Op::ShowTargets || op == Op::ShowPortals || op == Op::ShowSystem; }

// The start of an answer, on one line, for an error text.
std::string Head(const std::string& text) {
    std::string head = text.substr(0, 80);
    for (char& c : head)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return head + (text.size() > 80 ? "..." : "");
}

}  // namespace

bool TgtCommand::operator==(const TgtCommand& o) const {
    return op == o.op && tid == o.tid && lun == o.lun && text == o.text && sid == o.sid && cid == o.cid;
}

std::vector<std::string> TgtAdm::Argv(const TgtCommand& command) const {
    std::vector<std::string> argv{m_settings.path, "--control-port=" + std::to_string(m_settings.controlPort),
                                  "--lld=iscsi"};
    for (std::string& word : Words(command, &m_store)) argv.push_back(std::move(word));
    return argv;
}

std::string TgtAdm::Describe(const TgtCommand& command) { return Text(Words(command, nullptr)); }

std::vector<std::string> TgtdArgv(const std::string& tgtdPath, int controlPort, const std::string& portal,
                                  int ioThreads) {
    // tgtd reads "--iscsi" itself, not through getopt: the value is a word of its own.
    return {tgtdPath, "-f", "--control-port=" + std::to_string(controlPort),
            "--nr_iothreads=" + std::to_string(ioThreads), "--iscsi", "portal=" + portal};
}

TgtAdmResult TgtAdm::Run(const TgtCommand& command) const {
    ProcessOptions options;
    options.limit = m_settings.limit;
    options.outputCap = 64u << 20;  // a show of many targets runs to megabytes
    // tgtadm would follow this variable to another daemon's socket.
    options.unsetEnv = {"TGT_IPC_SOCKET"};
    const ProcessResult run = RunProcess(Argv(command), options);

    TgtAdmResult result;
    result.elapsed = run.elapsed;
    ++m_calls;
    m_spentMs += run.elapsed.count();
    // A request that changes something answers nothing when it succeeds;
    // anything else on its output means it cannot be trusted to have worked.
    const bool unexpected = !Answers(command.op) && !run.out.empty();
    result.ok = run.Succeeded() && !run.truncated && !unexpected;
    result.out = run.out;
    if (!result.ok) {
        result.busy = SaysBusy(run.err);
        const std::string why = !run.Succeeded() ? run.Describe()
                                : run.truncated  ? "answer longer than the runner keeps"
                                                 : "exit 0 with an answer it never gives: " + Head(run.out);
        result.text = Text(Words(command, &m_store)) + ": " + why;
    }
    // Every call at the tracing level: what the service asked of tgtd, and how long it took.
    ServiceLog(2, "TgtAdm::Run",
               (result.ok ? Describe(command) : result.text) + " (" + std::to_string(run.elapsed.count()) + " ms)");
    return result;
}

}  // namespace zoscsi::tgt
