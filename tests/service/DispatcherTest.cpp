// The dispatcher against messages built from the shared wire schema: every
// request is answered once, at the status pair its client reads.
#include "FakeBackend.h"
#include "TempFolder.h"
#include "WireMessages.h"
#include "protocol/Dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zoscsi;
using namespace ZoScsiServer;
using wire::Request;
namespace W = ZoScsiServer::Wire;

namespace {

class DispatcherTest : public ::testing::Test {
protected:
    explicit DispatcherTest(size_t maxAnswerBytes = 16u << 20)
        : store(folder.path()),
          inventory(store, backend, [] { return int64_t{1700000000}; }),
          core(inventory, ServiceIdentity{"node1", "1.0.0", 42, 0}, LunSizeSettings()),
          dispatcher(core, maxAnswerBytes) {}

    // Sends `request`, checks its answer carries a status where `def` puts
    // it, and returns the answer.
    std::unique_ptr<CNMessageBase> Send(const Request& request, const W::Message& def) {
        std::unique_ptr<CNMessageBase> answer = dispatcher.Handle(request.message());
        EXPECT_TRUE(answer);
        EXPECT_EQ(answer->Group(), W::kGroup);
        EXPECT_EQ(answer->Id(), def.responseId);
        EXPECT_NE(wire::Status(*answer, def), nullptr);
        return answer;
    }

    long long Number(const Request& request, const W::Message& def) {
        return wire::ErrorNumber(*Send(request, def), def);
    }

    std::vector<std::string> Listing(const std::string& word, const std::string& arguments) {
        auto answer = Send(wire::Ioctl(word, arguments), W::kIoctl);
        EXPECT_EQ(wire::ErrorNumber(*answer, W::kIoctl), 0) << wire::ErrorText(*answer, W::kIoctl);
        return wire::Output(*answer);
    }

    Request Target(const W::Message& def, const std::string& name) {
        Request r(def);
        r.Str(W::kTargetName, name);
        return r;
    }

    Request Lun(const std::string& target, const std::string& options, long long setting = 0) {
        Request r(W::kCreateLun);
        r.Str(W::kCreateLunTarget, target).Int(W::kCreateLunSetting, setting).Options(options);
        return r;
    }

    Request DeleteLun(const std::string& target, long long id, long long flags) {
        Request r(W::kDeleteLun, wire::Header{1, flags, ISCSI});
        r.Str(W::kDeleteLunTarget, target).Int(W::kDeleteLunId, id);
        return r;
    }

    Request Mapping(const W::Message& def, const std::string& target, long long id, const std::string& host) {
        Request r(def);
        r.Str(W::kMapTarget, target).Int(W::kMapLunId, id).Str(W::kMapHost, host);
        return r;
    }

    TempFolder folder;
    FakeBackend backend;
    InventoryStore store;
    Inventory inventory;
    ServiceCore core;
    Dispatcher dispatcher;
};

TEST_F(DispatcherTest, UnknownRequestsGetTheUnknownRequestAnswer) {
    const std::pair<int, int> unknown[] = {{75, 99}, {75, 0}, {75, 16}, {9, 60}, {0, 0}, {-1, 7}};
    for (const auto& type : unknown) {
        CNMessageBase request(type.first, type.second);
        std::unique_ptr<CNMessageBase> answer = dispatcher.Handle(request);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->Id(), W::kUnknownRequest.responseId);
        EXPECT_EQ(wire::ErrorNumber(*answer, W::kUnknownRequest), kErrUnknownRequest);
        EXPECT_NE(wire::ErrorText(*answer, W::kUnknownRequest).find("group " + std::to_string(type.first)),
                  std::string::npos);
    }
}

TEST_F(DispatcherTest, UnknownCommandWordsGetTheIoctlAnswer) {
    for (const char* word : {"xyz", "", "LL", "ll2", "reload now"}) {
        auto answer = Send(wire::Ioctl(word, ""), W::kIoctl);
        EXPECT_EQ(wire::ErrorNumber(*answer, W::kIoctl), kErrUnknownRequest) << word;
        EXPECT_NE(wire::ErrorText(*answer, W::kIoctl).find("known: ll llt llh lld lt ltd reload status"), std::string::npos)
            << wire::ErrorText(*answer, W::kIoctl);
        EXPECT_TRUE(wire::Output(*answer).empty());
    }
    EXPECT_EQ(Number(wire::Ioctl(" lt ", ""), W::kIoctl), 0);  // blanks around the word are tolerated
}

TEST_F(DispatcherTest, EveryRouteAnswersABareRequestAtItsStatusPair) {
    // Only the header: each message either works or is refused, never silent.
    for (const Route& route : Routes()) {
        Request bare(route.schema->message);
        if (route.word) bare.Str(W::kIoctlCommand, route.word);
        const long long number = Number(bare, route.schema->message);
        EXPECT_NE(number, -999) << route.schema->name << " " << (route.word ? route.word : "");
    }
}

TEST_F(DispatcherTest, MalformedFieldsAreInvalidArguments) {
    Request noHeader(W::kCreateTarget, nullptr);
    noHeader.Str(W::kTargetName, "tgt01");
    Request wrongKind(W::kCreateTarget);
    wrongKind.Int(W::kTargetName, 5);
    Request noCommand(W::kIoctl);
    Request commandAsNumber(W::kIoctl);
    commandAsNumber.Int(W::kIoctlCommand, 1);
    Request optionsAsText(W::kCreateLun);
    optionsAsText.Str(W::kCreateLunTarget, "tgt01").Int(W::kCreateLunSetting, 0).Str(W::kCreateLunOptions, "-s 1M");
    Request noOptions(W::kCreateLun);
    noOptions.Str(W::kCreateLunTarget, "tgt01").Int(W::kCreateLunSetting, 0);
    const struct {
        const Request* request;
        W::Message def;
        const char* text;
    } cases[] = {
        {&noHeader, W::kCreateTarget, "header"},
        {&wrongKind, W::kCreateTarget, "target name is an integer"},
        {&noCommand, W::kIoctl, "command word is missing"},
        {&commandAsNumber, W::kIoctl, "command word is an integer"},
        {&optionsAsText, W::kCreateLun, "LUN options is a string"},
        {&noOptions, W::kCreateLun, "LUN options is missing"},
    };
    for (const auto& c : cases) {
        auto answer = Send(*c.request, c.def);
        EXPECT_EQ(wire::ErrorNumber(*answer, c.def), kErrInvalidArgument) << c.text;
        EXPECT_NE(wire::ErrorText(*answer, c.def).find(c.text), std::string::npos) << wire::ErrorText(*answer, c.def);
    }
    EXPECT_TRUE(Listing("lt", "").empty());
}

TEST_F(DispatcherTest, StartServesOnlyTheIscsiFabric) {
    EXPECT_EQ(Number(Request(W::kStartScsiService), W::kStartScsiService), 0);
    EXPECT_EQ(Number(Request(W::kStartScsiService, wire::Header{1, 0, 2}), W::kStartScsiService), kErrInvalidArgument);
    EXPECT_EQ(Number(Request(W::kStartScsiService, wire::Header{1, 0, 1ll << 32 | 1}), W::kStartScsiService),
              kErrInvalidArgument);
    backend.failOn = "Start";
    auto answer = Send(Request(W::kStartScsiService), W::kStartScsiService);
    EXPECT_EQ(wire::ErrorNumber(*answer, W::kStartScsiService), kErrBackend);
    EXPECT_NE(wire::ErrorText(*answer, W::kStartScsiService).find("refused by the fake"), std::string::npos);
}

TEST_F(DispatcherTest, ReloadResynchronisesTheBackend) {
    ASSERT_EQ(Number(Request(W::kStartScsiService), W::kStartScsiService), 0);
    EXPECT_EQ(Number(wire::Ioctl("reload", ""), W::kIoctl), 0);
    EXPECT_EQ(backend.Calls().back(), "Resync 0");
    EXPECT_EQ(Number(wire::Ioctl("reload", "-x"), W::kIoctl), kErrInvalidArgument);
}

TEST_F(DispatcherTest, CreateLunAnswersNameAndIdAtTheirFields) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    for (long long expected : {1, 2}) {
        auto answer = Send(Lun("tgt01", "-s 1M", 7), W::kCreateLun);
        ASSERT_EQ(wire::ErrorNumber(*answer, W::kCreateLun), 0) << wire::ErrorText(*answer, W::kCreateLun);
        EXPECT_EQ(answer->FindField(W::kCreateLun.responseType, W::kCreateLunName.key)->str,
                  "tgt01:lun" + std::to_string(expected));
        EXPECT_EQ(answer->FindField(W::kCreateLun.responseType, W::kCreateLunId.key)->i64, expected);
    }
    auto refused = Send(Lun("tgt01", "-s 1M -x 2"), W::kCreateLun);
    EXPECT_EQ(wire::ErrorNumber(*refused, W::kCreateLun), kErrInvalidArgument);
    EXPECT_EQ(refused->FindField(W::kCreateLun.responseType, W::kCreateLunName.key), nullptr);
    EXPECT_EQ(refused->FindField(W::kCreateLun.responseType, W::kCreateLunId.key), nullptr);
}

TEST_F(DispatcherTest, CreateLunOptionsAndValues) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    const struct {
        std::string target;
        std::string options;
        long long setting;
        long long expected;
    } cases[] = {
        {"tgt01", "", 0, kErrNone},
        {"tgt01", "  -s 512  ", 0, kErrNone},
        {"tgt01", "-s 1M", 4294967295ll, kErrNone},
        {"tgt01", "-s 1M", 4294967296ll, kErrInvalidArgument},
        {"tgt01", "-s 1M", -1, kErrInvalidArgument},
        {"tgt01", "-s 100", 0, kErrInvalidArgument},
        {"tgt01", "-s 17T", 0, kErrInvalidArgument},
        {"tgt01", "-s", 0, kErrInvalidArgument},
        {"tgt01", "-s 1M#", 0, kErrInvalidArgument},
        {"tgt01", "-li 1 -s 1M", 0, kErrInvalidArgument},
        {"Tgt01", "", 0, kErrInvalidArgument},
        {"tgt09", "", 0, kErrNotFound},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Number(Lun(c.target, c.options, c.setting), W::kCreateLun), c.expected) << c.target << " " << c.options;
}

TEST_F(DispatcherTest, OpenLunAnswersAnExistingLunByItsId) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    ASSERT_EQ(Number(DeleteLun("tgt01", 1, W::kOpCtxCloseLun), W::kDeleteLun), 0);
    auto answer = Send(Lun("tgt01", " -li 1"), W::kCreateLun);
    ASSERT_EQ(wire::ErrorNumber(*answer, W::kCreateLun), 0);
    EXPECT_EQ(answer->FindField(W::kCreateLun.responseType, W::kCreateLunName.key)->str, "tgt01:lun1");
    EXPECT_EQ(answer->FindField(W::kCreateLun.responseType, W::kCreateLunId.key)->i64, 1);
    EXPECT_EQ(Number(Lun("tgt01", " -li 5"), W::kCreateLun), kErrNotFound);
    EXPECT_EQ(Number(Lun("tgt01", " -li -3"), W::kCreateLun), kErrInvalidArgument);
    EXPECT_EQ(Number(Lun("tgt01", " -li x"), W::kCreateLun), kErrInvalidArgument);
    EXPECT_EQ(Listing("ll", "-h node1").size(), 1u);  // opening made no new LUN
}

TEST_F(DispatcherTest, DeleteLunClosesWhenBitZeroIsSet) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    EXPECT_EQ(Number(DeleteLun("tgt01", 1, 3), W::kDeleteLun), 0);  // bit 0 set among others: close
    EXPECT_EQ(Listing("ll", "-h node1"), std::vector<std::string>{"tgt01#-#1#1700000000"});
    EXPECT_EQ(Number(DeleteLun("tgt01", 1, 2), W::kDeleteLun), 0);  // bit 0 clear: delete
    EXPECT_TRUE(Listing("ll", "-h node1").empty());
    EXPECT_EQ(Number(DeleteLun("tgt01", 1, 0), W::kDeleteLun), kErrNotFound);
}

TEST_F(DispatcherTest, ListingsAnswerExactlyTheMatchingLines) {
    for (const char* t : {"tgt01", "tgt02"}) ASSERT_EQ(Number(Target(W::kCreateTarget, t), W::kCreateTarget), 0);
    ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    ASSERT_EQ(Number(Lun("tgt02", ""), W::kCreateLun), 0);
    ASSERT_EQ(Number(Mapping(W::kMapLun2Host, "tgt01", 2, "h1"), W::kMapLun2Host), 0);
    ASSERT_EQ(Number(Mapping(W::kMapLun2Host, "tgt02", 1, "h1"), W::kMapLun2Host), 0);
    EXPECT_EQ(Number(Mapping(W::kMapLun2Host, "tgt02", 1, "h1"), W::kMapLun2Host), kErrAlreadyExists);
    const std::string t = "#1700000000";
    const struct {
        std::string word;
        std::string arguments;
        std::vector<std::string> lines;
    } cases[] = {
        {"ll", "-h node1", {"tgt01#-#1" + t, "tgt01#h1#2" + t, "tgt02#h1#1" + t}},
        {"ll", "", {"tgt01#-#1" + t, "tgt01#h1#2" + t, "tgt02#h1#1" + t}},
        {"ll", "-h node1 -ti tgt01", {"tgt01#-#1" + t, "tgt01#h1#2" + t}},
        {"ll", "-h node1 -hi h1", {"tgt01#h1#2" + t, "tgt02#h1#1" + t}},
        {"ll", "-h node1 -ti tgt02 -hi h1", {"tgt02#h1#1" + t}},
        // Target names are folded as at creation; host names match exactly.
        {"ll", "-h node1 -ti Tgt01", {"tgt01#-#1" + t, "tgt01#h1#2" + t}},
        {"llt", "-h node1 -llt -ti tgt02", {"tgt02#h1#1" + t}},
        {"llt", "-h node1 -llt -ti TGT02", {"tgt02#h1#1" + t}},
        {"llh", "-h node1 -llh -hi h1", {"tgt01#h1#2" + t, "tgt02#h1#1" + t}},
        {"llh", "-h node1 -llh -hi H1", {}},
        {"llh", "-h node1 -llh -hi h2", {}},
        {"lt", "", {"tgt01", "tgt02"}},
        // The detailed words: size, state and the backend's export, and the
        // LUN counts of each target.
        {"lld", "-h node1",
         {"tgt01#-#1" + t + "#67108864#open#-", "tgt01#h1#2" + t + "#67108864#open#fake:tgt01/h1",
          "tgt02#h1#1" + t + "#67108864#open#fake:tgt02/h1"}},
        {"lld", "-h node1 -ti TGT01 -hi h1", {"tgt01#h1#2" + t + "#67108864#open#fake:tgt01/h1"}},
        {"lld", "-h node1 -from tgt01/2", {"tgt01#h1#2" + t + "#67108864#open#fake:tgt01/h1",
                                           "tgt02#h1#1" + t + "#67108864#open#fake:tgt02/h1"}},
        {"lld", "-h node1 -from tgt09/1", {}},
        {"ltd", "-h node1", {"tgt01#2#2#1#1700000000", "tgt02#1#1#1#1700000000"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Listing(c.word, c.arguments), c.lines) << c.word << " " << c.arguments;
    const std::pair<const char*, const char*> refused[] = {
        {"llt", "-h node1 -llt"}, {"llh", "-h node1 -ti tgt01"}, {"ll", "-h node1 -xx 1"}, {"ll", "-ti a#b"},
        {"lld", "-from tgt01"}, {"lld", "-from tgt01/x"}, {"lld", "-from tgt01/16384"},
    };
    for (const auto& r : refused)
        EXPECT_EQ(Number(wire::Ioctl(r.first, r.second), W::kIoctl), kErrInvalidArgument) << r.first << " " << r.second;
    EXPECT_EQ(Number(Mapping(W::kUnMapLun2Host, "tgt02", 1, "h1"), W::kUnMapLun2Host), 0);
    EXPECT_EQ(Number(Mapping(W::kUnMapLun2Host, "tgt02", 1, "h1"), W::kUnMapLun2Host), kErrNotFound);
}

TEST_F(DispatcherTest, TargetRequestsCarryTheirRules) {
    EXPECT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    EXPECT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), kErrAlreadyExists);
    Request withParams = Target(W::kCreateTarget, "tgt02");
    withParams.Str(W::kTargetParams, "line\nbreak");
    EXPECT_EQ(Number(withParams, W::kCreateTarget), kErrInvalidArgument);
    EXPECT_EQ(Number(Target(W::kDeleteTarget, "tgt02"), W::kDeleteTarget), kErrNotFound);
    ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    EXPECT_EQ(Number(Target(W::kDeleteTarget, "tgt01"), W::kDeleteTarget), kErrBusy);
}

TEST_F(DispatcherTest, StatusReportsTheInstance) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    const std::vector<std::string> lines = Listing("status", "");
    for (const char* expected : {"client=node1", "pid=42", "backend=fake", "targets=1", "luns=0", "schema=1"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
}

TEST_F(DispatcherTest, ABackendThatThrowsStillGetsOneAnswer) {
    backend.throwOn = "CreateTarget";
    auto answer = Send(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget);
    EXPECT_EQ(wire::ErrorNumber(*answer, W::kCreateTarget), kErrBackend);
    EXPECT_TRUE(Listing("lt", "").empty());
}

class SmallFrameDispatcherTest : public DispatcherTest {
protected:
    SmallFrameDispatcherTest() : DispatcherTest(2500) {}
};

TEST_F(SmallFrameDispatcherTest, AListingTooLargeForOneFrameIsALimit) {
    ASSERT_EQ(Number(Target(W::kCreateTarget, "tgt01"), W::kCreateTarget), 0);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Number(Lun("tgt01", ""), W::kCreateLun), 0);
    auto answer = Send(wire::Ioctl("ll", "-h node1"), W::kIoctl);
    EXPECT_EQ(wire::ErrorNumber(*answer, W::kIoctl), kErrLimit);
    EXPECT_NE(wire::ErrorText(*answer, W::kIoctl).find("100 lines"), std::string::npos) << wire::ErrorText(*answer, W::kIoctl);
    EXPECT_TRUE(wire::Output(*answer).empty());
    EXPECT_EQ(Number(wire::Ioctl("ll", "-h node1 -ti tgt01 -hi h1"), W::kIoctl), 0);  // a narrow one still fits
}

}  // namespace
