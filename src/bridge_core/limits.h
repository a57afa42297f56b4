// The one record of every numeric bound and time span of the system. The programs use
// Limits::standard(); the session and the cache take a copy through their constructors, so
// tests can shrink them.
#pragma once

#include <cstdint>

namespace quenra {

struct Limits {
    std::int64_t maxMidiBytes = 16777216;
    std::int64_t maxRequestFrameBytes = 25165824;
    std::int64_t corruptFrameBytes = 67108864;
    // What a request may hold besides its top-level "midiBase64": JSON values (objects, arrays,
    // strings, numbers, literals; the request itself included), and bytes of keys, strings and
    // number texts. Every request is a dozen members and well under 4 KiB; past these the frame
    // is refused while it is read, so that no frame costs much more memory than its own bytes.
    std::int64_t maxValuesOutsidePayload = 1024;
    std::int64_t maxBytesOutsidePayload = 65536;
    std::int64_t maxResponseFrameBytes = 65536;
    std::int64_t maxNameLength = 200;
    std::int64_t markerMaxBytes = 256;
    std::int64_t maxClipsPerDrag = 16;
    double armLease = 10.0;
    double preparedIdle = 300.0;
    double retention = 86400.0;
    double unreadableRetention = 86400.0;
    double temporaryMaxAge = 3600.0;
    std::int64_t cacheMaxBytes = 268435456;
    std::int64_t cacheMaxEntries = 1024;
    std::int64_t prepareBurst = 8;
    std::int64_t prepareBurstBytes = 50331648;
    double rateWindow = 2.0;
    std::int64_t requestIdMemory = 256;
    double cacheLockWait = 2.0;
    // Audio clips arrive in chunks (UPLOAD, then UPLOAD_CHUNK) and have their own room: their
    // stored bytes plus the announced lengths of open uploads stay within audioCacheMaxBytes,
    // and an upload must leave audioFreeBytes free on the cache's volume. The MIDI limits above
    // count MIDI clips only.
    std::int64_t maxAudioBytes = 1073741824;
    std::int64_t chunkMaxBytes = 16777216;
    std::int64_t maxOpenUploads = 4;
    std::int64_t audioCacheMaxBytes = 4294967296;
    std::int64_t audioFreeBytes = 1073741824;

    static const Limits& standard();

    bool operator==(const Limits&) const = default;
};

}  // namespace quenra
