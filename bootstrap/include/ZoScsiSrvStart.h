// ZoScsiSrvStart: brings the SCSI target service up at host start-up.
//
// When the node's configuration has [Brovant] ZoScsiSrvInUse (any value), it
// launches ZoScsiSrv for this node's mangled host name, starts the SCSI
// service for iSCSI and logs the outcome; otherwise it logs that the service
// is not in use. It returns nothing and keeps nothing: no client survives the
// call. Exported under its plain, undecorated name, so a host can find it with
// dlsym(handle, "ZoScsiSrvStart").
#pragma once

extern "C" __attribute__((visibility("default"))) void ZoScsiSrvStart(void);
