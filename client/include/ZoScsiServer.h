// ZoScsiServer: the SCSI target service's wire schema (message group 75).
//
// The request classes a client builds, the numbers that address every field
// of the service's requests and responses, and the service's error numbers.
// The client library and the reference service both use these tables, so the
// two sides cannot drift apart. A field is found by its message's type key and
// its field key; the field pair travels with it (see CNMessageBase.h).
#pragma once

#include "CNMessageBase.h"

#include <cstdint>

namespace ZoScsiServer {

// The SCSI fabric a request addresses, carried as an unsigned 32-bit value.
// Any other value a caller puts into a header is passed on unchanged.
enum FabricType : uint32_t { ISCSI = 1 };

namespace Wire {

constexpr int kGroup = 75;

// One field: its pair and its key. The type key is the holding message's.
struct Field {
    short first;
    short second;
    unsigned int key;
};

// Header object: nested at (1,1) of every request, reached with the request's
// type key and kHeaderObject.key.
constexpr int kHeaderId = 16;
constexpr unsigned long kHeaderType = 0x4B011AD6;
constexpr Field kHeaderObject{1, 1, 0x11AD6};
constexpr Field kHeaderValue{1, 1, 0x2DB4B8};     // int64, headerValue sign-extended
constexpr Field kHeaderOpCtxFlags{3, 3, 0x10A07};  // int64
constexpr Field kHeaderFabric{2, 2, 0x112E7};      // int64, the fabric's unsigned value

// Bit 0 of opCtxFlags in a DeleteLun request: close the LUN, keep its data.
constexpr long long kOpCtxCloseLun = 1;

// Status object: nested in every response at the message's status pair,
// reached with the response's type key and kStatusKey.
constexpr int kStatusId = 13;
constexpr unsigned long kStatusType = 0x4B01E1E8;
constexpr unsigned int kStatusKey = 0x11145;
constexpr Field kStatusErrorNumber{1, 1, 0x39E001};  // int64; read by its single number 1
constexpr Field kStatusErrorText{2, 2, 0x39F2AC};    // string

// One service message: request id and type key, the response's id and type
// key (the response id is the service's choice; clients never read it), and
// where the response holds its status object.
struct Message {
    int id;
    unsigned long requestType;
    int responseId;
    unsigned long responseType;
    short statusFirst;
    short statusSecond;
};

constexpr Message kIoctl{7, 0x4B38AB15, 107, 0x4B8E42FA, 2, 2};
constexpr Message kStartScsiService{15, 0x4BBAA58D, 115, 0x4B489582, 2, 2};
constexpr Message kCreateTarget{20, 0x4BFEA5CD, 120, 0x4BA1AD42, 2, 2};
constexpr Message kDeleteTarget{2, 0x4B270B3C, 102, 0x4B959D73, 2, 2};
constexpr Message kCreateLun{19, 0x4B1C3949, 119, 0x4B6F9846, 4, 7};
constexpr Message kDeleteLun{9, 0x4B10623A, 109, 0x4B97FDB5, 2, 2};
constexpr Message kMapLun2Host{4, 0x4B38AD71, 104, 0x4BA0D31E, 2, 2};
constexpr Message kUnMapLun2Host{14, 0x4B0EE518, 114, 0x4B572617, 2, 2};

// An answer to a request the service does not know: id 0, status at (2,2).
constexpr Message kUnknownRequest{0, 0, 100, 0x4B00BAD0, 2, 2};

// Ioctl: the generic command message.
constexpr Field kIoctlCommand{2, 2, 0x1091A};      // request, string
constexpr Field kIoctlArguments{3, 6, 0xE23117};   // request, string
constexpr Field kIoctlOutput{3, 3, 0x817CAE};      // response, list of strings

// CreateTarget and DeleteTarget.
constexpr Field kTargetName{2, 2, 0x82BEAC};       // request, string, lower-cased
constexpr Field kTargetParams{3, 6, 0xB8CFC1};     // CreateTarget request, string, optional

// CreateLun (also sent by OpenLun).
constexpr Field kCreateLunTarget{2, 2, 0x82BEAC};  // request, string
constexpr Field kCreateLunSetting{4, 10, 0xD16BC0};  // request, int64, zero-extended
constexpr Field kCreateLunOptions{5, 11, 0xC9DB17};  // request, object (group 75, id 0)
constexpr int kOptionId = 0;
constexpr unsigned long kOptionType = 0x4B335CF0;
constexpr Field kOptionText{1, 1, 0x566D39};       // inside the option object, string
constexpr Field kCreateLunName{2, 2, 0x14868D};    // response, string
constexpr Field kCreateLunId{6, 6, 0x544161};      // response, int64; read by its single number 6

// DeleteLun (also sent by CloseLun).
constexpr Field kDeleteLunTarget{2, 2, 0x82BEAC};  // request, string
constexpr Field kDeleteLunId{3, 6, 0x544161};      // request, int64, sign-extended

// MapLun2Host and UnMapLun2Host.
constexpr Field kMapTarget{3, 6, 0x82BEAC};        // request, string, lower-cased
constexpr Field kMapLunId{4, 10, 0x544161};        // request, int64, sign-extended
constexpr Field kMapHost{2, 2, 0x2F2103};          // request, string, unchanged

}  // namespace Wire

// Error numbers the reference service answers with (docs/SERVICE.md); a
// program reads the one behind a returned error with
// ZoScsiSrvClient::GetServiceError.
enum ServiceErrorNumber : int {
    kErrNone = 0,
    kErrNotFound = 2,          // the target, LUN or mapping does not exist
    kErrBackend = 5,           // the backend refused; nothing was changed
    kErrAlreadyExists = 7,     // the target or mapping exists (AddTarget reports code 183)
    kErrBusy = 16,             // in use: a target with LUNs, a LUN with mappings
    kErrInvalidArgument = 22,  // a value, option or field is refused
    kErrLimit = 28,            // a bound is reached: no free LUN id, too many targets or hosts,
                               // an answer too large for one frame
    kErrUnknownRequest = 38,   // an unknown message or command word
    kErrInventory = 74,        // the inventory failed (disk full, I/O error); nothing was changed
};

// The request classes. Each only fixes its group and id.
#define ZO_SCSI_SERVER_MESSAGE(Name, Def)                                  \
    class Name : public CNMessageBase {                                    \
    public:                                                                \
        Name() : CNMessageBase(Wire::kGroup, Wire::Def.id) {}              \
    }

ZO_SCSI_SERVER_MESSAGE(Ioctl, kIoctl);
ZO_SCSI_SERVER_MESSAGE(StartScsiService, kStartScsiService);
ZO_SCSI_SERVER_MESSAGE(CreateTarget, kCreateTarget);
ZO_SCSI_SERVER_MESSAGE(DeleteTarget, kDeleteTarget);
ZO_SCSI_SERVER_MESSAGE(CreateLun, kCreateLun);
ZO_SCSI_SERVER_MESSAGE(DeleteLun, kDeleteLun);
ZO_SCSI_SERVER_MESSAGE(MapLun2Host, kMapLun2Host);
ZO_SCSI_SERVER_MESSAGE(UnMapLun2Host, kUnMapLun2Host);

#undef ZO_SCSI_SERVER_MESSAGE

}  // namespace ZoScsiServer
