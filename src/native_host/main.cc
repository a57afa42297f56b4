#include "native_host/host_entry.h"
#include "native_host/host_runtime.h"
#include "native_host/maintenance.h"

int main(int argc, char** argv) {
    quenra::HostEntry::run(argc, argv,
                           quenra::HostEntry::Commands{
                               quenra::HostRuntime::serve,
                               quenra::Maintenance::selfTest,
                               quenra::Maintenance::sweepOnce,
                           });
}
