#include "setup_core/setup_failure.h"

namespace quenra {

const char* SetupFailure::description(Kind kind) {
    switch (kind) {
        case Kind::unsafeLocation:
            return "Move Quenra Bridge.app into Applications (or ~/Applications), then open it "
                   "again.";
        case Kind::missingHelper:
            return "The app's native helper is missing. Install a complete copy of the app.";
        case Kind::conflict:
            return "Another registration exists. Confirm replacement to save a backup and update "
                   "it.";
        case Kind::foreignRegistration:
            return "This registration belongs to another installation. It was left unchanged.";
        case Kind::symbolicLink:
            return "The registration path contains a symbolic link. It was left unchanged.";
        case Kind::invalidReply:
            return "The native helper did not return a valid connection test response.";
        case Kind::timeout:
            return "The native helper did not finish its connection test within 10 seconds.";
    }
    return "";
}

}  // namespace quenra
