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

struct ClassifyCase {
    const char* what;
    FXErrorSpace space;
    unsigned code;
    std::string message;
    Stage stage;
    ExitCode expected;
};

void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << c.what; }

class ClassifyError : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyError, MapsToTheExitCode) {
    const auto& c = GetParam();
    const CYbError error = FXErrorUtil::Make(HERE, c.space, c.code, c.message);
    EXPECT_EQ(zoctl::ClassifyError(error, c.stage), c.expected) << c.what;
}

constexpr auto H = FXErrorSpace::Host;
constexpr auto E = FXErrorSpace::ErrNo;
constexpr auto Op = Stage::Operation;

INSTANTIATE_TEST_SUITE_P(
    Table, ClassifyError,
    ::testing::Values(
        ClassifyCase{"not found", H, 774, "Failed to delete target t, errNum=2, errString=no such target", Op,
                     kExitNotFound},
        ClassifyCase{"already exists as 774", H, 774, "Failed maplun2host lun=1, host=h, target=t, errNum=7, errString=x",
                     Op, kExitAlreadyExists},
        ClassifyCase{"already exists as 183", H, 183, "Failed to add target t, errNum=7, errString=exists", Op,
                     kExitAlreadyExists},
        ClassifyCase{"invalid argument", H, 774, "Failed to create lun for target t, errNum=22, errString=bad size", Op,
                     kExitInvalidArgument},
        ClassifyCase{"busy", H, 774, "Failed to delete target t, errNum=16, errString=has LUNs", Op, kExitBusy},
        ClassifyCase{"backend failure", H, 774, "Failed to create lun for target t, errNum=5, errString=x", Op,
                     kExitFailure},
        ClassifyCase{"listing without number", H, 774, "Failed to get lun list ", Op, kExitFailure},
        ClassifyCase{"send time-out", H, 258, "Failed to send ListLuns request. TimedOut", Op, kExitTimeout},
        ClassifyCase{"empty id", E, 22, "Empty target id", Op, kExitInvalidArgument},
        ClassifyCase{"peer gone", E, ECONNRESET, "Connection reset", Op, kExitUnreachable},
        ClassifyCase{"broken pipe", E, EPIPE, "Broken pipe", Op, kExitUnreachable},
        ClassifyCase{"no such target", E, ENOENT, "Target t does not exist", Op, kExitNotFound},
        ClassifyCase{"connection lost", E, EIO, "receive failed: peer closed the connection", Op, kExitUnreachable},
        ClassifyCase{"malformed answer", E, EPROTO, "malformed message: not XML", Op, kExitFailure},
        ClassifyCase{"other errno", E, EACCES, "Permission denied", Op, kExitFailure},
        ClassifyCase{"malformed response", H, 13, "Malformed AddTargetResp: no status object", Op, kExitFailure},
        ClassifyCase{"any failure while connecting", H, 774, "launch failed, errNum=2, errString=x", Stage::Connect,
                     kExitUnreachable},
        ClassifyCase{"client name refused by the launcher", E, EINVAL, "bad client name \"a b\"", Stage::Connect,
                     kExitInvalidArgument},
        // A name the caller passed may itself look like the library's tail;
        // the number that counts is the last one, after every name.
        ClassifyCase{"name mimicking the tail", H, 774,
                     "Failed to unmap lun 1 from host a, errNum=7, errString=, target t, errNum=2, errString=none", Op,
                     kExitNotFound}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(ClassifyError, SuccessIsZeroAtEveryStage) {
    EXPECT_EQ(zoctl::ClassifyError(CYbError::Success(), Stage::Connect), kExitOk);
    EXPECT_EQ(zoctl::ClassifyError(CYbError::Success(), Stage::Operation), kExitOk);
}

TEST(ServiceErrorNumber, ReadsTheNumberOrNothing) {
    EXPECT_EQ(ServiceErrorNumber("Failed to add target t, errNum=-3, errString=x"), -3);
    EXPECT_EQ(ServiceErrorNumber("Failed to get lun list "), std::nullopt);
    EXPECT_EQ(ServiceErrorNumber("errNum=2"), std::nullopt);  // not the library's tail
}

}  // namespace
