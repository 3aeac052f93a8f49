// Answers of tgtadm 1.0.85 as captured from a tgtd (trimmed where marked).
#pragma once

inline const char* const kShowTwoTargets = R"(Target 3: iqn.2026-12.local.zo:t.all
    System information:
        Driver: iscsi
        State: ready
    I_T nexus information:
        I_T nexus: 6
            Initiator: iqn.a alias: none
            Connection: 0
                IP Address: 127.0.0.1
            Connection: 1
                IP Address: 127.0.0.1
    LUN information:
        LUN: 0
            Type: controller
            SCSI ID: IET     00030000
            SCSI SN: beaf30
            Size: 0 MB, Block size: 1
            Online: Yes
            Removable media: No
            Prevent removal: No
            Readonly: No
            SWP: No
            Thin-provisioning: No
            Backing store type: null
            Backing store path: None
            Backing store flags: 
        LUN: 1
            Type: disk
            SCSI ID: IET     00030001
            SCSI SN: beaf31
            Size: 67 MB, Block size: 512
            Online: Yes
            Removable media: No
            Prevent removal: No
            Readonly: No
            SWP: No
            Thin-provisioning: No
            Backing store type: rdwr
            Backing store path: /tmp/tgtexp/a.img
            Backing store flags: 
        LUN: 2
            Type: disk
            SCSI ID: IET     00030002
            SCSI SN: beaf32
            Size: 67 MB, Block size: 512
            Online: Yes
            Removable media: No
            Prevent removal: No
            Readonly: No
            SWP: No
            Thin-provisioning: No
            Backing store type: rdwr
            Backing store path: /tmp/tgt exp/b.img
            Backing store flags: 
    Account information:
    ACL information:
        127.0.0.1
        ALL
Target 12: iqn.2026-12.local.zo:other
    System information:
        Driver: iscsi
        State: ready
    I_T nexus information:
    LUN information:
        LUN: 0
            Type: controller
            Backing store path: None
    Account information:
    ACL information:
)";
