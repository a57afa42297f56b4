#include "native_host/host_entry.h"

int main(int argc, char** argv) {
    // The runtime adds serve, selfTest and sweep here; until then those arguments get usage.
    quenra::HostEntry::run(argc, argv, quenra::HostEntry::Commands{});
}
