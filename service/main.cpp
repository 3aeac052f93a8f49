// zoscsisrv: the reference SCSI target service (docs/SERVICE.md).
#include "app/ServiceRunner.h"

int main(int argc, char** argv) { return zoscsi::ServiceMain(argc, argv); }
