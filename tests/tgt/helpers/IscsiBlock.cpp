// zo_iscsi_block: writes or reads one 512-byte block through a real iSCSI
// session (libiscsi), for the end-to-end tests.
//   zo_iscsi_block INITIATOR iscsi://HOST:PORT/IQN/LUN write LBA TEXT
//       the block is TEXT repeated
//   zo_iscsi_block INITIATOR iscsi://HOST:PORT/IQN/LUN read LBA
//       prints the block's first bytes up to a NUL or 64 bytes
// Exit 0 on success, 1 with a message on standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

namespace {

constexpr int kBlock = 512;

int Fail(iscsi_context* iscsi, const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, iscsi ? iscsi_get_error(iscsi) : "");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || (std::strcmp(argv[3], "write") == 0 && argc < 6)) {
        std::fprintf(stderr, "usage: %s INITIATOR URL read|write LBA [TEXT]\n", argv[0]);
        return 1;
    }
    iscsi_context* iscsi = iscsi_create_context(argv[1]);
    if (!iscsi) return Fail(nullptr, "no context");
    iscsi_url* url = iscsi_parse_full_url(iscsi, argv[2]);
    if (!url) return Fail(iscsi, "bad url");
    iscsi_set_session_type(iscsi, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(iscsi, ISCSI_HEADER_DIGEST_NONE);
    iscsi_set_targetname(iscsi, url->target);
    if (iscsi_full_connect_sync(iscsi, url->portal, url->lun) != 0) return Fail(iscsi, "login");

    const uint64_t lba = std::strtoull(argv[4], nullptr, 10);
    int rc = 0;
    if (std::strcmp(argv[3], "write") == 0) {
        unsigned char block[kBlock];
        const size_t n = std::strlen(argv[5]);
        for (int i = 0; i < kBlock; ++i) block[i] = n ? static_cast<unsigned char>(argv[5][i % n]) : 0;
        scsi_task* task = iscsi_write16_sync(iscsi, url->lun, lba, block, kBlock, kBlock, 0, 0, 0, 0, 0);
        if (!task || task->status != SCSI_STATUS_GOOD) rc = Fail(iscsi, "write16");
        if (task) scsi_free_scsi_task(task);
        task = rc ? nullptr : iscsi_synchronizecache10_sync(iscsi, url->lun, 0, 0, 0, 0);
        if (task) scsi_free_scsi_task(task);
    } else {
        scsi_task* task = iscsi_read16_sync(iscsi, url->lun, lba, kBlock, kBlock, 0, 0, 0, 0, 0);
        if (!task || task->status != SCSI_STATUS_GOOD || task->datain.size < kBlock) {
            rc = Fail(iscsi, "read16");
        } else {
            const std::string data(reinterpret_cast<const char*>(task->datain.data), 64);
            std::printf("%s\n", data.c_str());
        }
        if (task) scsi_free_scsi_task(task);
    }
    iscsi_logout_sync(iscsi);
    iscsi_destroy_url(url);
    iscsi_destroy_context(iscsi);
    return rc;
}
