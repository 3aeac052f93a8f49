// How failures map onto the tool's exit codes.
#include "ExitCodes.h"

#include "FXErrorUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cctype>
#include <string>

namespace {

using namespace zoctl;

#define HERE FXCodeLocation("ExitCodesTest", "case", __LINE__)

constexpr int kNone = -1000;  // no service status on the error

struct ClassifyCase {
    const char* what;
    FXErrorSpace space;
    unsigned code;
    std::string message;
    Stage stage;
    ExitCode expected;
    int serviceNumber = kNone;  // the typed status the library attaches to a refusal
};

void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << c.what; }

class ClassifyError : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyError, MapsToTheExitCode) {
    const auto& c = GetParam();
    CYbError error = FXErrorUtil::Make(HERE, c.space, c.code, c.message);
    if (c.serviceNumber != kNone) error.SetPeerStatus(c.serviceNumber, "the service's text");
    EXPECT_EQ(zoctl::ClassifyError(error, c.stage), c.expected) << c.what;
}

constexpr auto H = FXErrorSpace::Host;
constexpr auto E = FXErrorSpace::ErrNo;
constexpr auto L = FXErrorSpace::Launch;
constexpr auto Op = Stage::Operation;
constexpr auto Connect = Stage::Connect;

INSTANTIATE_TEST_SUITE_P(
    Table, ClassifyError,
    ::testing::Values(
        ClassifyCase{"not found", H, 774, "Failed to delete target t, errNum=2, errString=x", Op, kExitNotFound, 2},
        ClassifyCase{"already exists as 774", H, 774, "Failed maplun2host ...", Op, kExitAlreadyExists, 7},
        ClassifyCase{"already exists as 183", H, 183, "Failed to add target t, errNum=7, errString=x", Op,
                     kExitAlreadyExists, 7},
        ClassifyCase{"invalid argument", H, 774, "Failed to create lun ...", Op, kExitInvalidArgument, 22},
        ClassifyCase{"busy", H, 774, "Failed to delete target t ...", Op, kExitBusy, 16},
        ClassifyCase{"backend failure", H, 774, "Failed to create lun ...", Op, kExitFailure, 5},
        ClassifyCase{"refused reload, fixed text", H, 774, "Failed to reload iSCSI service configuration.", Op,
                     kExitInvalidArgument, 22},
        // The number comes from the typed status, never from the text: a
        // name the caller passed may look like the library's tail.
        ClassifyCase{"text without a typed status", H, 774, "Failed to unmap lun 1 from host a, errNum=2, errString=",
                     Op, kExitFailure},
        ClassifyCase{"send time-out", H, 258, "Failed to send ListLuns request. TimedOut", Op, kExitTimeout},
        ClassifyCase{"empty id", E, 22, "Empty target id", Op, kExitInvalidArgument},
        ClassifyCase{"peer gone", E, ECONNRESET, "Connection reset", Op, kExitUnreachable},
        ClassifyCase{"broken pipe", E, EPIPE, "Broken pipe", Op, kExitUnreachable},
        ClassifyCase{"no such target", E, ENOENT, "Target t does not exist", Op, kExitNotFound},
        ClassifyCase{"connection lost", E, EIO, "receive failed: peer closed the connection", Op, kExitUnreachable},
        ClassifyCase{"malformed answer", E, EPROTO, "malformed message: not XML", Op, kExitFailure},
        ClassifyCase{"other errno", E, EACCES, "Permission denied", Op, kExitFailure},
        ClassifyCase{"malformed response", H, 13, "Malformed AddTargetResp: no status object", Op, kExitFailure},
        ClassifyCase{"a launch the service refused", L, 78, "ZoScsiSrv for client c: it did not start: ...", Connect,
                     kExitUnreachable},
        ClassifyCase{"a stopped instance", L, 62, "the running instance (pid 9) did not answer", Connect,
                     kExitUnreachable},
        ClassifyCase{"an instance that stayed busy", L, EBUSY, "the running instance (pid 9) stayed busy", Connect,
                     kExitBusy},
        ClassifyCase{"client name refused by the launcher", E, EINVAL, "bad client name \"a b\"", Connect,
                     kExitInvalidArgument}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(ClassifyError, SuccessIsZeroAtEveryStage) {
    EXPECT_EQ(zoctl::ClassifyError(CYbError::Success(), Stage::Connect), kExitOk);
    EXPECT_EQ(zoctl::ClassifyError(CYbError::Success(), Stage::Operation), kExitOk);
}

}  // namespace
