#include "reliability/cache_audit.h"

#include <sys/stat.h>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hex.h"
#include "support/directory_listing.h"

namespace quenra::testing {

bool isCompleteEntry(const std::string& directory, EntryRecord* record) {
    const auto bytes = Files::readSmall(directory + "/entry.json", Cache::maxRecordBytes);
    const auto decoded = bytes ? EntryRecord::decode(*bytes) : std::nullopt;
    if (!decoded || decoded->fileName.find('/') != std::string::npos) {
        return false;
    }
    struct stat clip {};
    struct stat lock {};
    if (::lstat((directory + "/" + decoded->fileName).c_str(), &clip) != 0 ||
        !S_ISREG(clip.st_mode) || clip.st_size != decoded->byteLength ||
        ::lstat((directory + "/owner.lock").c_str(), &lock) != 0 || !S_ISREG(lock.st_mode)) {
        return false;
    }
    if (record != nullptr) {
        *record = *decoded;
    }
    return true;
}

bool ownerLockIsFree(const std::string& directory) {
    const Descriptor lock = Files::openLockFile(directory + "/owner.lock", false);
    return lock.isOpen() && Files::tryLockExclusive(lock);
}

CacheAudit CacheAudit::of(const std::string& root) {
    CacheAudit audit;
    const std::string entries = root + "/entries";
    for (const std::string& name : testing::namesIn(entries)) {
        const std::string directory = entries + "/" + name;
        if (name.rfind(".tmp-", 0) == 0) {
            audit.staging.push_back(name);
            continue;
        }
        if (!Hex::isLower(name, 32)) {
            audit.strangers.push_back(name);
            continue;
        }
        EntryRecord record;
        if (isCompleteEntry(directory, &record) && record.preparedId == name) {
            audit.complete.push_back(record);
        } else {
            audit.incomplete.push_back(name);
        }
        for (const std::string& file : testing::namesIn(directory)) {
            if (file.rfind(".entry.json.", 0) == 0) {
                audit.temporaries.push_back(name + "/" + file);
            }
        }
    }
    return audit;
}

std::string CacheAudit::describe() const {
    std::string text = std::to_string(complete.size()) + " complete";
    const auto list = [&](const char* what, const std::vector<std::string>& names) {
        text += ", " + std::to_string(names.size()) + " " + what;
        for (const std::string& name : names) {
            text += " " + name;
        }
    };
    list("incomplete", incomplete);
    list("staging", staging);
    list("temporaries", temporaries);
    list("strangers", strangers);
    return text;
}

}  // namespace quenra::testing
