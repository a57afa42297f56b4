#include "stress/cache_watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>

#include "bridge_core/entry_record.h"
#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "support/directory_listing.h"

namespace quenra::Stress {

using testing::namesIn;

namespace {

constexpr std::int64_t maxRecordBytes = 65536;

double wallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool isEntryName(const std::string& name) {
    return name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string randomHex(std::size_t digits) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t index = 0; index < digits; ++index) {
        text += hex[generator() % 16];
    }
    return text;
}

enum class Look { whole, incomplete, torn, gone };

// What a reader without any lock sees of one entry directory.
Look look(const std::string& directory, std::optional<EntryRecord>* record = nullptr) {
    struct stat status {};
    if (::lstat(directory.c_str(), &status) != 0) {
        return Look::gone;
    }
    const auto bytes = Files::readSmall(directory + "/entry.json", maxRecordBytes);
    if (!bytes) {
        return ::lstat(directory.c_str(), &status) != 0 ? Look::gone : Look::incomplete;
    }
    const auto decoded = EntryRecord::decode(*bytes);
    if (!decoded) {
        return Look::torn;
    }
    struct stat clip {};
    struct stat lock {};
    if (::lstat((directory + "/" + decoded->fileName).c_str(), &clip) != 0 ||
        clip.st_size != decoded->byteLength ||
        ::lstat((directory + "/owner.lock").c_str(), &lock) != 0) {
        return ::lstat(directory.c_str(), &status) != 0 ? Look::gone : Look::incomplete;
    }
    if (record != nullptr) {
        *record = decoded;
    }
    return Look::whole;
}

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

CacheWatch::CacheWatch(std::string root, const Limits& limits)
    : root_(std::move(root)), limits_(limits) {}

CacheWatch::~CacheWatch() {
    stop();
}

void CacheWatch::start() {
    running_ = true;
    threads_.emplace_back(&CacheWatch::readLoop, this);
    threads_.emplace_back(&CacheWatch::limitLoop, this);
    threads_.emplace_back(&CacheWatch::ageLoop, this);
}

void CacheWatch::stop() {
    running_ = false;
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

// A create publishes a whole directory by one rename and a delete only ever takes parts away,
// so an entry seen incomplete and later seen whole was visible before it was made.
void CacheWatch::readLoop() {
    const std::string entries = root_ + "/entries";
    std::map<std::string, int> incomplete;
    while (running_) {
        for (const std::string& name : namesIn(entries)) {
            if (!isEntryName(name)) {
                continue;
            }
            switch (look(entries + "/" + name)) {
                case Look::whole:
                    if (incomplete.erase(name) > 0) {
                        ++counts_.halfVisible;
                    }
                    break;
                case Look::incomplete:
                    incomplete[name] = 0;
                    break;
                case Look::torn:
                    ++counts_.tornRecords;
                    break;
                case Look::gone:
                    incomplete.erase(name);
                    break;
            }
        }
        // Names that have gone for good are forgotten after a while.
        for (auto it = incomplete.begin(); it != incomplete.end();) {
            it = ++it->second > 50 ? incomplete.erase(it) : std::next(it);
        }
        ++counts_.readerScans;
        pause(2);
    }
}

// Under the cache lock no entry can appear, so the count taken is at least the real one at
// some moment: a count over the limit is a real breach.
void CacheWatch::limitLoop() {
    const std::string entries = root_ + "/entries";
    while (running_) {
        const Descriptor lock = Files::openLockFile(root_ + "/cache.lock", true);
        if (lock.isOpen() && Files::tryLockExclusive(lock)) {
            std::int64_t count = 0;
            std::int64_t bytes = 0;
            for (const std::string& name : namesIn(entries)) {
                if (!isEntryName(name)) {
                    continue;
                }
                ++count;
                const auto record =
                    Files::readSmall(entries + "/" + name + "/entry.json", maxRecordBytes);
                if (const auto decoded = record ? EntryRecord::decode(*record) : std::nullopt) {
                    bytes += decoded->byteLength;
                }
            }
            if (count > limits_.cacheMaxEntries || bytes > limits_.cacheMaxBytes) {
                ++counts_.limitBreaches;
            }
            counts_.mostEntries = std::max<std::int64_t>(counts_.mostEntries, count);
            counts_.mostBytes = std::max<std::int64_t>(counts_.mostBytes, bytes);
            ++counts_.limitScans;
        }
        pause(50);
    }
}

// A day passes for every abandoned entry a host published: with the owner lock held (so no
// sweep judges it meanwhile) its record is rewritten, the way the cache does, to have expired.
void CacheWatch::ageLoop() {
    const std::string entries = root_ + "/entries";
    while (running_) {
        for (const std::string& name : namesIn(entries)) {
            if (!isEntryName(name)) {
                continue;
            }
            const std::string directory = entries + "/" + name;
            const Descriptor lock = Files::openLockFile(directory + "/owner.lock", false);
            if (lock.isOpen() && Files::tryLockExclusive(lock)) {
                std::optional<EntryRecord> record;
                if (look(directory, &record) == Look::whole &&
                    record->state != EntryState::prepared &&
                    record->fileName.rfind("Prefill", 0) != 0 && record->retainUntil != 1.0) {
                    record->retainUntil = 1.0;
                    try {
                        Files::replace(directory + "/entry.json", bytesOf(*record->encode()),
                                       ".entry.json." + randomHex(16));
                        ++counts_.aged;
                    } catch (const FileFailure&) {
                        // The sweep got there first and removed the directory.
                    }
                }
            }
        }
        pause(100);
    }
}

void prefill(const std::string& root, std::int64_t count) {
    const std::vector<std::uint8_t> clip = {'M', 'T', 'h', 'd', 0,  0,    0,    6,   0,
                                            0,   0,   1,   0,   96, 'M',  'T',  'r', 'k',
                                            0,   0,   0,   4,   0,  0xFF, 0x2F, 0x00};
    const double now = wallNow();
    for (std::int64_t index = 0; index < count; ++index) {
        EntryRecord record;
        record.preparedId = randomHex(32);
        record.state = EntryState::published;
        record.fileName = "Prefill " + std::to_string(index) + ".mid";
        record.byteLength = static_cast<std::int64_t>(clip.size());
        record.sha256 = std::string(64, '0');
        record.createdAt = now;
        record.touchedAt = now;
        record.retainUntil = now + 86400;
        const std::string directory = root + "/entries/" + record.preparedId;
        Files::ensurePrivateDirectory(directory);
        Files::writeNew(directory + "/" + record.fileName, clip);
        Files::writeNew(directory + "/entry.json", bytesOf(*record.encode()));
        Files::writeNew(directory + "/owner.lock", {});
    }
}

FinalAudit auditAfterExit(const std::string& root) {
    FinalAudit audit;
    const std::string entries = root + "/entries";
    const auto leftover = [&](const std::string& what) {
        ++audit.leftovers;
        if (audit.examples.size() < 5) {
            audit.examples.push_back(what);
        }
    };
    for (const std::string& name : namesIn(entries)) {
        const std::string directory = entries + "/" + name;
        if (!isEntryName(name)) {
            leftover(name);
            continue;
        }
        std::optional<EntryRecord> record;
        if (look(directory, &record) != Look::whole) {
            leftover(name + " (incomplete)");
            continue;
        }
        if (record->state == EntryState::prepared) {
            leftover(name + " (prepared)");
            continue;
        }
        const Descriptor lock = Files::openLockFile(directory + "/owner.lock", false);
        if (!lock.isOpen() || !Files::tryLockExclusive(lock)) {
            leftover(name + " (still owned)");
            continue;
        }
        for (const std::string& file : namesIn(directory)) {
            if (file.rfind(".entry.json.", 0) == 0) {
                leftover(name + "/" + file);
            }
        }
        ++audit.retained;
    }
    return audit;
}

}  // namespace quenra::Stress
