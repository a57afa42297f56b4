#include <cstdio>

#include "bridge_core/identity.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("{\"helperVersion\":\"%s\",\"protocolVersion\":\"%s\"}\n",
                    quenra::Identity::helperVersion.data(),
                    quenra::Identity::protocolVersion.data());
        return 0;
    }
    return 64;
}
