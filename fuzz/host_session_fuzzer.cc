// A whole host session driven by a fuzzed script: raw and framed bytes, well-formed requests
// with fuzzed fields (names, generations, hashes, ids), drags on an in-memory board, clock
// jumps, sweeps, another process's arm lock and audio clips uploaded in chunks (good, cut,
// mislabelled), over a real cache and audio library in a temporary folder.
// Whatever happens: every item gets at most one reply and every reply and event is a valid
// envelope; a healthy cache never causes INTERNAL; BUSY comes only while someone else holds the
// arm lock; the cache limits hold; an owned entry is never removed and no staging directory
// stays; only a whole upload of the right hash and format is prepared; and after shutdown no
// prepared entry, lock, temporary or unpublished library file is left.
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/serialize.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bridge_core/arm_lease.h"
#include "bridge_core/base64.h"
#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "support/deterministic_random.h"
#include "support/directory_listing.h"
#include "support/fuzz_checks.h"
#include "support/manual_clock.h"
#include "support/read_request.h"
#include "support/scripted_drag_board.h"
#include "test_peer/frame_collector.h"

using namespace quenra;
using FuzzChecks::require;

namespace {

std::string scratchRoot;

// The fuzzed script, read front to back; past its end every read is 0.
class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return offset_ >= size_; }
    std::uint8_t next() { return offset_ < size_ ? data_[offset_++] : 0; }
    std::vector<std::uint8_t> take(std::size_t count) {
        const std::size_t length = std::min(count, size_ - std::min(offset_, size_));
        std::vector<std::uint8_t> bytes(data_ + offset_, data_ + offset_ + length);
        offset_ += length;
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// Scalars that the name rules treat specially: separators, invisible and direction marks,
// combining marks, slashes of other scripts, emoji, private use, the largest scalar.
constexpr char32_t specialScalars[32] = {
    0x00A0, 0x1680, 0x2000,   0x200B,  0x200D,  0x202E, 0x2028, 0x2029, 0xFEFF, 0x3000, 0x0301,
    0x0308, 0x00E9, 0x65E5,   0x1F600, 0x1F1F0, 0xFFFD, 0xE000, 0x0085, 0x00AD, 0x061C, 0x2044,
    0xFF0F, 0x2215, 0x10FFFF, 0x1D11E, 0x0CA0,  0x0E01, 0x0915, 0x094D, 0x200C, 0x0000};

void appendUTF8(std::string& text, char32_t scalar) {
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        text += static_cast<char>(0xC0 | (scalar >> 6));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += static_cast<char>(0xE0 | (scalar >> 12));
        text += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (scalar >> 18));
        text += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

std::string nameFrom(Script& script) {
    std::string name;
    const std::size_t length = script.next() % 48;
    for (std::size_t index = 0; index < length; ++index) {
        const std::uint8_t byte = script.next();
        appendUTF8(name, byte < 0x80 ? char32_t{byte} : specialScalars[byte & 31]);
    }
    return name;
}

// A format 0 file with notes notes: always valid, and different for different counts.
std::vector<std::uint8_t> clipWith(std::uint8_t notes, std::uint8_t first) {
    std::vector<std::uint8_t> track;
    for (std::uint8_t index = 0; index < notes % 24; ++index) {
        track.insert(track.end(),
                     {0x00, 0x90, static_cast<std::uint8_t>((first + index) & 0x7F), 0x40});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                                      1,   0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, 0};
    file[21] = static_cast<std::uint8_t>(track.size());
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

// A WAV of frames stereo 16-bit frames: valid, and different for different counts.
std::vector<std::uint8_t> wavWith(std::uint8_t frames) {
    const std::uint32_t dataBytes = 4u * (1u + frames % 64u);
    const auto little = [](std::vector<std::uint8_t>& out, std::uint32_t value, int count) {
        for (int index = 0; index < count; ++index) {
            out.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
        }
    };
    std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F'};
    little(file, 36 + dataBytes, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    little(file, 16, 4);
    little(file, 1, 2);
    little(file, 2, 2);
    little(file, 44100, 4);
    little(file, 44100 * 4, 4);
    little(file, 4, 2);
    little(file, 16, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    little(file, dataBytes, 4);
    for (std::uint32_t index = 0; index < dataBytes; ++index) {
        file.push_back(static_cast<std::uint8_t>(index * 37 + frames));
    }
    return file;
}

// An upload this run opened, its bytes, and whether they are what its UPLOAD announced.
struct OpenAudio {
    std::string uploadId;
    std::string clipId;
    std::int64_t generation = 0;
    std::vector<std::uint8_t> bytes;
    std::string sha256;
    std::int64_t received = 0;
    bool sound = false;
};

struct Known {
    std::string preparedId;
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
};

Limits smallFrames() {
    Limits limits = Limits::standard();
    limits.maxRequestFrameBytes = 4096;
    return limits;
}

class Run {
  public:
    explicit Run(const Limits& limits)
        : limits_(limits),
          root_(scratchRoot + "/cache"),
          cache_(root_, limits_, clock_, random_),
          library_(scratchRoot + "/music/Quenra Bridge"),
          session_(SessionEnvironment{cache_, board_, mouse_, clock_, random_, limits_,
                                      Platform{"15.1.0", "arm64", "macOS"}, library_}) {}

    ~Run() {
        Files::removeTree(root_);
        Files::removeTree(scratchRoot + "/music");
    }

    void step(Script& script) {
        const std::uint8_t action = script.next() % 16;
        switch (action) {
            case 0: {
                const auto body = script.take(script.next());
                deliver(body.empty() ? TestPeer::Decoded(FrameDecoder::Item::empty())
                                     : TestPeer::Decoded(ByteBuffer(body.begin(), body.end())));
                break;
            }
            case 1:
                for (const auto& decoded : decoder_.append(script.take(script.next()))) {
                    deliver(decoded);
                }
                break;
            case 2:
                send(request("HELLO", script),
                     [](boost::json::object& body) { body["extensionVersion"] = "1.2.3"; });
                break;
            case 3:
                prepare(script);
                break;
            case 4:
                arm(script);
                break;
            case 5: {
                const bool real = (script.next() & 1) && !token_.empty();
                const std::string token = real ? token_ : "AAAAAAAAAAAAAAAAAAAAAA";
                send(request("CANCEL", script),
                     [&](boost::json::object& body) { body["token"] = token; });
                break;
            }
            case 6: {
                const std::uint8_t pick = script.next();
                const std::string preparedId = !known_.empty() && (pick & 1)
                                                   ? known_[pick % known_.size()].preparedId
                                                   : std::string(32, 'a');
                send(request("RELEASE", script),
                     [&](boost::json::object& body) { body["preparedId"] = preparedId; });
                break;
            }
            case 7:
                send(request("STATUS", script), [](boost::json::object&) {});
                break;
            case 8:
                changeBoard(script.next());
                tick();
                break;
            case 9:
                clock_.advanceMonotonic(script.next() * 0.05);
                clock_.advanceWall(script.next() * 400.0);
                break;
            case 10:
                // What the session's sweep runs, with its report.
                require(!cache_.sweep().skipped, "nothing else holds the cache lock");
                break;
            case 11:
                if (otherProcess_) {
                    otherProcess_.reset();
                } else {
                    otherProcess_ = ArmLease::acquire(cache_.armLockURL());
                }
                break;
            case 12:
                deliver(script.next() & 1
                            ? FrameDecoder::Item::tooLarge(limits_.corruptFrameBytes)
                            : FrameDecoder::Item::corrupt(limits_.corruptFrameBytes + 1));
                break;
            case 13:
                upload(script);
                break;
            case 14:
                chunk(script);
                break;
            case 15:
                // The runtime settles a moment after a reply; requests and polls may come first.
                settle();
                break;
        }
        // Only a PREPARE adds to the cache and only a sweep may meet staging of others; after
        // any other step usage can only have shrunk, so the directory scans (most of a step's
        // cost) are spared there.
        checkSession();
        if (action == 3 || action == 10 || action == 13 || action == 14) {
            checkCache();
        }
    }

    void finish() {
        session_.shutdown();
        require(!session_.isWatching() && session_.preparations().empty(), "shutdown ends all");
        otherProcess_.reset();
        for (const std::string& name : testing::namesIn(cache_.entriesDirectory())) {
            require(name.size() == 32, "no staging directory after shutdown");
            const std::string directory = cache_.entriesDirectory() + "/" + name;
            const auto bytes = Files::readSmall(directory + "/entry.json", Cache::maxRecordBytes);
            const auto record = bytes ? EntryRecord::decode(*bytes) : std::nullopt;
            require(record && record->state != EntryState::prepared,
                    "only armed or published entries outlive their session");
            for (const std::string& file : testing::namesIn(directory)) {
                require(file.rfind(".entry.json.", 0) != 0, "no record temporary left");
            }
            const Descriptor lock = Files::openLockFile(directory + "/owner.lock", false);
            require(lock.isOpen() && Files::tryLockExclusive(lock),
                    "no entry stays owned after shutdown");
        }
        const auto arm = ArmLease::acquire(cache_.armLockURL());
        require(arm.has_value(), "the arm lock is free after shutdown");
        const auto placed = Files::namesAt(Files::openOwnDirectory(library_).get());
        require(!placed || placed->size() <= published_,
                "only published library files outlive their session");
    }

  private:
    using Fill = std::function<void(boost::json::object&)>;

    boost::json::object request(const char* type, Script& script) {
        const std::uint8_t pick = script.next();
        boost::json::object body;
        body["type"] = type;
        body["protocolVersion"] = "1.0";
        // Mostly the bound session; sometimes another id, or the same id in another epoch.
        const char* id = (pick & 0x60) == 0x60 ? "otherBrowserSession00" : "fuzzBrowserSession01";
        body["session"] = {{"id", id}, {"epoch", (pick & 0x80) ? 2 : 1}};
        // A small id space, so that repeats and the id memory are reached.
        body["requestId"] = "r" + std::to_string(requestIds_++ % (1 + (pick & 0x1F)));
        return body;
    }

    void send(boost::json::object body, const Fill& fill) {
        fill(body);
        const std::string text = boost::json::serialize(body);
        const std::string requestId(body["requestId"].as_string());
        const auto replies = session_.receive(testing::readRequest(text));
        require(replies.size() == 1, "one reply per request");
        const auto reply = check(replies.front(), true);
        require(reply.at("requestId").as_string() == requestId, "reply echoes the request id");
    }

    // What the runtime runs a moment after a reply: an ARM's records put in place.
    void settle() {
        const auto events = session_.settle();
        require(!session_.isUnsettled(), "settling leaves nothing to settle");
        require(events.size() <= 1, "at most one event after a reply");
        for (const auto& payload : events) {
            require(check(payload, false).at("type").as_string() == "DRAG_FAILED",
                    "only a failed drag follows a reply");
            require(!session_.isWatching(), "a failed drag is not armed");
        }
    }

    // A frame is read as the host reads one; any other item is handed over as it is.
    void deliver(const TestPeer::Decoded& decoded) {
        const auto* body = std::get_if<ByteBuffer>(&decoded);
        const auto* item = std::get_if<FrameDecoder::Item>(&decoded);
        const auto replies = body != nullptr
                                 ? session_.receive(testing::readRequest(std::string_view(
                                       reinterpret_cast<const char*>(body->data()), body->size())))
                                 : session_.receive(*item);
        if (item != nullptr && item->kind == FrameDecoder::Item::Kind::corrupt) {
            require(replies.empty(), "no reply to a corrupt length");
            return;
        }
        require(replies.size() == 1, "one reply per item");
        const auto reply = check(replies.front(), true);
        if (item != nullptr) {
            require(reply.at("type").as_string() == "ERROR" &&
                        reply.at("requestId").as_string() == "unparsed",
                    "an unreadable item is refused unparsed");
        }
    }

    void prepare(Script& script) {
        const std::string clipId = "clip-" + std::to_string(script.next() % 3);
        const std::int64_t generation = 1 + script.next() % 4;
        const std::uint8_t notes = script.next();
        const std::uint8_t flags = script.next();
        std::vector<std::uint8_t> midi = clipWith(notes, flags);
        if (flags & 0x04) {
            midi[0] = 'N';
        }
        std::string sha256 = Hashing::sha256Hex(midi);
        if (flags & 0x01) {
            sha256[0] = sha256[0] == '0' ? '1' : '0';
        }
        std::int64_t byteLength = static_cast<std::int64_t>(midi.size());
        std::string base64 = Base64::encode(midi);
        if (flags & 0x02) {
            byteLength += 1 + (flags >> 5);
        }
        if (flags & 0x08) {
            byteLength = limits_.maxMidiBytes + 1;
            base64.clear();
        }
        const bool sound = (flags & 0x0F) == 0;
        const std::string name = nameFrom(script);
        const auto before = cache_.usage();
        send(request("PREPARE", script), [&](boost::json::object& body) {
            body["clipId"] = clipId;
            body["generation"] = generation;
            body["sha256"] = sha256;
            body["byteLength"] = byteLength;
            body["midiBase64"] = base64;
            body["suggestedName"] = name;
        });
        const auto& reply = last_;
        if (reply.at("type").as_string() == "PREPARED") {
            require(sound, "only a sound clip is prepared");
            const std::string fileName(reply.at("fileName").as_string());
            FuzzChecks::requireSafeName(fileName);
            const std::string preparedId(reply.at("preparedId").as_string());
            const std::string directory = cache_.entriesDirectory() + "/" + preparedId;
            const auto stored = Files::readSmall(directory + "/" + fileName, limits_.maxMidiBytes);
            require(stored && *stored == midi, "the clip is stored whole under its safe name");
            known_.push_back({preparedId, clipId, generation, sha256});
            if (known_.size() > 8) {
                known_.erase(known_.begin());
            }
        } else if (reply.at("code").as_string() == "CACHE_FULL") {
            require(before.entries + 1 > limits_.cacheMaxEntries ||
                        before.bytes + byteLength > limits_.cacheMaxBytes,
                    "CACHE_FULL only when the clip would not fit");
        }
    }

    void upload(Script& script) {
        const std::uint8_t flags = script.next();
        OpenAudio audio;
        audio.clipId = "audio-" + std::to_string(flags % 3);
        audio.generation = 1 + script.next() % 4;
        audio.bytes = wavWith(script.next());
        audio.sha256 = Hashing::sha256Hex(audio.bytes);
        std::string format = "wav";
        std::string sha256 = audio.sha256;
        std::int64_t byteLength = static_cast<std::int64_t>(audio.bytes.size());
        if (flags & 0x08) {
            sha256[0] = sha256[0] == '0' ? '1' : '0';
        }
        if (flags & 0x10) {
            format = (flags & 0x20) ? "aiff" : "WAV";
        }
        if (flags & 0x40) {
            byteLength -= 1 + (flags & 3);
            audio.bytes.resize(static_cast<std::size_t>(byteLength));
            sha256 = Hashing::sha256Hex(audio.bytes);
        }
        audio.sound = (flags & 0x58) == 0;
        const std::string name = nameFrom(script);
        send(request("UPLOAD", script), [&](boost::json::object& body) {
            body["clipId"] = audio.clipId;
            body["generation"] = audio.generation;
            body["sha256"] = sha256;
            body["byteLength"] = byteLength;
            body["suggestedName"] = name;
            body["format"] = format;
        });
        if (last_.at("type").as_string() == "UPLOADING") {
            require(format != "WAV", "a format is its exact lower-case name");
            audio.uploadId = std::string(last_.at("uploadId").as_string());
            audios_.push_back(std::move(audio));
            if (audios_.size() > 6) {
                audios_.erase(audios_.begin());
            }
        }
    }

    void chunk(Script& script) {
        if (audios_.empty()) {
            return;
        }
        const std::uint8_t pick = script.next();
        const std::uint8_t flags = script.next();
        OpenAudio& audio = audios_[pick % audios_.size()];
        const auto remaining = static_cast<std::size_t>(
            static_cast<std::int64_t>(audio.bytes.size()) - audio.received);
        const std::size_t count = std::min<std::size_t>(remaining, 1 + script.next());
        std::vector<std::uint8_t> piece(
            audio.bytes.begin() + static_cast<std::ptrdiff_t>(audio.received),
            audio.bytes.begin() + static_cast<std::ptrdiff_t>(audio.received) +
                static_cast<std::ptrdiff_t>(count));
        std::int64_t offset = audio.received;
        std::string data = Base64::encode(piece);
        if (flags & 0x01) {
            offset += 1;
        }
        if (flags & 0x02) {
            data = flags & 0x04 ? "" : "*" + data;
        }
        const bool right = (flags & 0x03) == 0 && !piece.empty();
        send(request("UPLOAD_CHUNK", script), [&](boost::json::object& body) {
            body["uploadId"] = audio.uploadId;
            body["offset"] = offset;
            body["dataBase64"] = data;
        });
        const std::string type(last_.at("type").as_string());
        if (type == "UPLOADING") {
            require(right, "only a right chunk is taken");
            audio.received += static_cast<std::int64_t>(count);
            require(last_.at("received").as_int64() == audio.received, "received counts bytes");
        } else if (type == "PREPARED") {
            require(right && audio.sound, "only a whole, sound upload is prepared");
            const std::string fileName(last_.at("fileName").as_string());
            const std::string directory =
                cache_.entriesDirectory() + "/" + std::string(last_.at("preparedId").as_string());
            const auto stored = Files::readSmall(directory + "/" + fileName, 1 << 16);
            require(stored && *stored == audio.bytes, "the clip is stored whole");
            known_.push_back({std::string(last_.at("preparedId").as_string()), audio.clipId,
                              audio.generation, audio.sha256});
            audio.received = -1;
        } else {
            const std::string code(last_.at("code").as_string());
            if (code == "HASH_MISMATCH" || code == "NOT_AUDIO") {
                require(right && !audio.sound, "a sound upload is never refused at its end");
                audio.received = -1;
            } else if (code == "UNKNOWN_PREPARED") {
                audio.received = -1;
            }
        }
        std::erase_if(audios_, [](const OpenAudio& open) { return open.received < 0; });
    }

    void arm(Script& script) {
        if (known_.empty()) {
            return;
        }
        const std::uint8_t pick = script.next();
        Known target = known_[pick % known_.size()];
        if (pick & 0x80) {
            target.generation += 1;
        }
        const bool wasWatching = session_.isWatching();
        const std::string previousToken = token_;
        send(request("ARM", script), [&](boost::json::object& body) {
            body["preparedId"] = target.preparedId;
            body["clipId"] = target.clipId;
            body["generation"] = target.generation;
            body["sha256"] = target.sha256;
        });
        if (last_.at("type").as_string() == "ARMED") {
            token_ = std::string(last_.at("token").as_string());
            marker_ = std::string(last_.at("marker").as_string());
            require(session_.isWatching(), "ARMED means watching");
            require(!otherProcess_ || (wasWatching && token_ == previousToken),
                    "nothing is newly armed while another process holds the arm lock");
        } else if (last_.at("code").as_string() == "BUSY") {
            require(otherProcess_.has_value(), "BUSY only while another process holds the lock");
            require(!session_.isWatching(), "a BUSY arm leaves nothing armed");
        }
    }

    void changeBoard(std::uint8_t action) {
        switch (action % 9) {
            case 1:
                board_.beginChromeDrag(marker_);
                break;
            case 2:
                board_.beginChromeDrag("some other text");
                break;
            case 3:
                board_.beginChromeDrag(std::nullopt);
                break;
            case 4:
                board_.write({PasteboardType::plainText}, marker_);
                break;
            case 5:
                mouse_.leftButtonDown = !mouse_.leftButtonDown;
                break;
            case 6:
                board_.claimScript.fileURLWritten = !board_.claimScript.fileURLWritten;
                break;
            case 7:
                board_.write({}, std::nullopt);
                break;
            case 8:
                // Another program replaces the armed clip file under its name.
                if (const ArmedDrag* drag = session_.armed()) {
                    const std::string path = drag->clips.front().entry->fileURL();
                    ::unlink(path.c_str());
                    const std::uint8_t stranger[] = {'M', 'T', 'h', 'd'};
                    Files::writeNew(path, stranger);
                }
                break;
            default:
                break;
        }
    }

    void tick() {
        const auto events = session_.tick();
        require(events.size() <= 1, "at most one event per poll");
        for (const auto& payload : events) {
            const auto event = check(payload, false);
            const auto& type = event.at("type").as_string();
            published_ += type == "PUBLISHED" ? 16 : 0;
            require(type == "PUBLISHED" || type == "DRAG_FAILED" || type == "EXPIRED",
                    "a poll sends only drag outcomes");
            require(!session_.isWatching(), "an outcome ends the drag");
        }
    }

    boost::json::object check(const std::string& payload, bool isReply) {
        auto message = FuzzChecks::requireEnvelope(payload, limits_.maxResponseFrameBytes, isReply);
        if (message.at("type").as_string() == "ERROR") {
            require(message.at("code").as_string() != "INTERNAL",
                    "a healthy cache never answers INTERNAL");
        }
        if (isReply) {
            last_ = message;
        }
        return message;
    }

    void checkCache() {
        const CacheUsage usage = cache_.usage();
        require(usage.entries <= limits_.cacheMaxEntries && usage.bytes <= limits_.cacheMaxBytes,
                "the cache stays within its limits");
        std::size_t staging = 0;
        for (const std::string& name : testing::namesIn(cache_.entriesDirectory())) {
            staging += name.rfind(".tmp-", 0) == 0 ? 1 : 0;
        }
        require(staging == session_.uploads().size(),
                "staging only for open uploads: a failed or finished create or upload leaves none");
    }

    void checkSession() {
        for (const auto& [preparedId, preparation] : session_.preparations()) {
            struct stat status {};
            require(::lstat(preparation.entry->directory().c_str(), &status) == 0 &&
                        preparation.entry->lockDescriptor() >= 0,
                    "an entry this session owns is never removed");
        }
        require(session_.isWatching() == (session_.armed() != nullptr), "watching means armed");
    }

    Limits limits_;
    testing::ManualClock clock_;
    testing::DeterministicRandom random_;
    testing::ScriptedDragBoard board_;
    testing::SettableMouse mouse_;
    std::string root_;
    Cache cache_;
    std::string library_;
    HostSession session_;
    // Raw bytes are framed with a small limit: a frame under the standard one would reserve up
    // to 24 MiB per input, and the session meets the same items either way.
    TestPeer::FrameCollector decoder_{smallFrames()};
    std::optional<ArmLease> otherProcess_;
    std::vector<Known> known_;
    std::vector<OpenAudio> audios_;
    // A bound on the library files publications may have left.
    std::size_t published_ = 0;
    std::string token_;
    std::string marker_;
    boost::json::object last_;
    int requestIds_ = 0;
};

Limits limitsFor(std::uint8_t selector) {
    Limits limits = Limits::standard();
    limits.cacheMaxEntries = 1 + (selector & 3);
    limits.cacheMaxBytes = (selector & 4) ? 200 : limits.cacheMaxBytes;
    limits.requestIdMemory = (selector & 8) ? 3 : limits.requestIdMemory;
    // Room for audio by its own budget alone, whatever the scratch volume has free.
    limits.audioFreeBytes = 0;
    limits.audioCacheMaxBytes = (selector & 16) ? 300 : limits.audioCacheMaxBytes;
    return limits;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A tmpfs keeps the cache's flushes cheap, so more scripts run per second.
    const char* shared = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr;
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(shared      ? shared
                                      : temporary ? temporary
                                                  : "/tmp") +
                          "/quenra-session-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    scratchRoot = pattern;
    std::atexit([] { Files::removeTree(scratchRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Script script(data, size);
    Run run(limitsFor(script.next()));
    for (int steps = 0; !script.done() && steps < 256; ++steps) {
        run.step(script);
    }
    run.finish();
    return 0;
}
