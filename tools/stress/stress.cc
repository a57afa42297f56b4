// quenra-stress: several real host processes on one cache, each driven through the test peer
// for a number of cycles of PREPARE, ARM, then a takeover on the drag board or a CANCEL, then
// RELEASE; beside them an optional loop of "--sweep" runs and the cache observers. The cache
// starts nearly full, so creates meet the entry limit. At the end it prints the counts and
// exits 1 when any promise was broken: a malformed reply, an owned entry gone, an entry seen
// before it was whole, a BUSY with nobody holding the arm lock, two drags armed at once, a
// limit passed, or anything but retained published entries left after the hosts exited.
//
// Usage: quenra-stress [--hosts N] [--cycles N] [--prefill N] [--sweep] [--home DIR]
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "stress/cache_watch.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::Stress {
namespace {

namespace Requests = TestPeer::Requests;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using TestPeer::HostProcess;

const std::string origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";

struct Options {
    int hosts = 8;
    int cycles = 200;
    std::int64_t prefill = -1;  // by default the entry limit less half the hosts
    bool sweep = false;
    std::string home;
};

struct Counts {
    std::atomic<std::int64_t> cycles{0};
    std::atomic<std::int64_t> replies{0};
    std::atomic<std::int64_t> malformed{0};
    std::atomic<std::int64_t> prepared{0};
    std::atomic<std::int64_t> cacheFull{0};
    std::atomic<std::int64_t> rateLimited{0};
    std::atomic<std::int64_t> lockWaitExpired{0};
    std::atomic<std::int64_t> starved{0};
    std::atomic<std::int64_t> armed{0};
    std::atomic<std::int64_t> busy{0};
    std::atomic<std::int64_t> busyWithoutHolder{0};
    std::atomic<std::int64_t> doubleArmed{0};
    std::atomic<std::int64_t> published{0};
    std::atomic<std::int64_t> cancelled{0};
    std::atomic<std::int64_t> otherOutcomes{0};
    std::atomic<std::int64_t> lostEntries{0};
    std::atomic<std::int64_t> unexpected{0};
    std::atomic<std::int64_t> hostFailures{0};
    std::atomic<std::int64_t> sweeps{0};
    std::atomic<std::int64_t> sweepsSkipped{0};
    std::atomic<std::int64_t> sweptEntries{0};
    std::atomic<std::int64_t> badSweeps{0};
    // Drivers between sending ARM and learning that its drag ended (a superset of the time
    // their host holds the arm lock), how many ever entered, and drivers whose host certainly
    // holds it (from ARMED until they act to end the drag).
    std::atomic<std::int64_t> maybeHolding{0};
    std::atomic<std::int64_t> armAttempts{0};
    std::atomic<std::int64_t> surelyHolding{0};
};

std::mutex reportMutex;

void report(const std::string& line) {
    const std::lock_guard<std::mutex> guard(reportMutex);
    std::cerr << "quenra-stress: " << line << '\n';
}

class Driver {
  public:
    Driver(int index, const Options& options, const std::vector<std::string>& environment,
           const std::string& root, Counts& counts)
        : index_(index),
          options_(options),
          environment_(environment),
          entries_(root + "/entries"),
          counts_(counts),
          session_{"stress-session-" + std::to_string(1000 + index) + "-abcdef", 1},
          random_(static_cast<std::uint32_t>(index * 7919 + 17)) {}

    void run() {
        try {
            HostProcess host =
                HostProcess::spawn(TestPeer::defaultHostPath(), {origin}, environment_);
            host_ = &host;
            if (type(exchange(Requests::hello(session_, nextId()))) != "HELLO_OK") {
                throw std::runtime_error("no HELLO_OK");
            }
            for (int cycle = 0; cycle < options_.cycles; ++cycle) {
                runCycle(cycle);
                ++counts_.cycles;
            }
            host.closeInput();
            const auto status = host.wait(milliseconds(10000));
            if (!status || *status != TestPeer::ExitStatus::exitedWith(0)) {
                ++counts_.hostFailures;
                report("host " + std::to_string(index_) +
                       " ended badly: " + (status ? TestPeer::describe(*status) : "still running"));
            }
        } catch (const std::exception& failure) {
            ++counts_.hostFailures;
            report("host " + std::to_string(index_) + ": " + failure.what());
        }
    }

  private:
    void runCycle(int cycle) {
        const auto clip = TestPeer::MidiClip::generate(
            std::uniform_int_distribution<std::size_t>(256, 4096)(random_),
            static_cast<std::uint8_t>(cycle));
        const std::string sha256 = Hashing::sha256Hex(clip);
        const std::string clipId = "clip-" + std::to_string(index_) + "-" + std::to_string(cycle);
        const std::optional<std::string> preparedId = prepare(cycle, clipId, clip);
        if (!preparedId) {
            return;
        }
        ++counts_.prepared;
        checkOwned(*preparedId);
        armAndEndDrag(*preparedId, clipId, sha256);
        checkOwned(*preparedId);
        const auto released = exchange(Requests::release(session_, nextId(), *preparedId));
        if (type(released) != "RELEASED") {
            unexpectedReply("RELEASE", released);
        }
    }

    // PREPARE, sent again while the refusals are the ones a busy, full cache gives, for at most
    // a minute. The prepared id; nothing when the host gave another answer or the time ran out.
    std::optional<std::string> prepare(int cycle, const std::string& clipId,
                                       const std::vector<std::uint8_t>& clip) {
        const auto giveUpAt = Clock::now() + std::chrono::seconds(60);
        for (;;) {
            const boost::json::object prepared = exchange(Requests::prepare(
                session_, nextId(), clipId, 1, clip,
                "Stress " + std::to_string(index_) + "-" + std::to_string(cycle)));
            if (type(prepared) == "PREPARED") {
                return Requests::text(prepared, "preparedId");
            }
            if (!countAndWait(Requests::text(prepared, "code"))) {
                unexpectedReply("PREPARE", prepared);
                return std::nullopt;
            }
            if (Clock::now() > giveUpAt) {
                ++counts_.starved;
                return std::nullopt;
            }
        }
    }

    // Counts a refusal that PREPARE may meet under load and waits as long as it asks; false for
    // any other code.
    bool countAndWait(const std::string& code) {
        if (code == "CACHE_FULL") {
            ++counts_.cacheFull;
            std::this_thread::sleep_for(milliseconds(30));
        } else if (code == "INTERNAL" &&
                   lastMilliseconds_ >= Limits::standard().cacheLockWait * 1000) {
            // The create gave up waiting for the cache lock ("cache-busy"): the refusal
            // the cache promises when others hold the lock too long, counted apart.
            ++counts_.lockWaitExpired;
        } else if (code == "RATE_LIMITED") {
            ++counts_.rateLimited;
            std::this_thread::sleep_for(milliseconds(250));
        } else {
            return false;
        }
        return true;
    }

    // ARM, then a takeover or a CANCEL when it is armed; a BUSY must have another host behind it.
    void armAndEndDrag(const std::string& preparedId, const std::string& clipId,
                       const std::string& sha256) {
        const std::int64_t othersBefore = ++counts_.maybeHolding - 1;
        const std::int64_t attemptsBefore = ++counts_.armAttempts;
        const auto armed =
            exchange(Requests::arm(session_, nextId(), preparedId, clipId, 1, sha256));
        if (type(armed) == "ARMED") {
            ++counts_.armed;
            if (++counts_.surelyHolding > 1) {
                ++counts_.doubleArmed;
            }
            checkOwned(preparedId);
            endArmedDrag(armed);
        } else if (Requests::text(armed, "code") == "BUSY") {
            ++counts_.busy;
            const std::int64_t othersNow = counts_.maybeHolding - 1;
            if (othersBefore == 0 && othersNow == 0 && counts_.armAttempts == attemptsBefore) {
                ++counts_.busyWithoutHolder;
            }
        } else {
            unexpectedReply("ARM", armed);
        }
        --counts_.maybeHolding;
    }

    // Half the drags are taken over, the other half cancelled.
    void endArmedDrag(const boost::json::object& armed) {
        if (random_() % 2 == 0) {
            takeOver(Requests::text(armed, "marker"), Requests::text(armed, "token"));
            return;
        }
        --counts_.surelyHolding;
        const auto cancelled =
            exchange(Requests::cancel(session_, nextId(), Requests::text(armed, "token")));
        if (type(cancelled) == "CANCELLED" && cancelled.at("wasActive").as_bool()) {
            ++counts_.cancelled;
        } else {
            unexpectedReply("CANCEL", cancelled);
        }
    }

    // The browser drags the marker; the host must claim the board and say PUBLISHED.
    void takeOver(const std::string& marker, const std::string& token) {
        --counts_.surelyHolding;
        const auto done =
            TestPeer::run(TestPeer::defaultDragSimPath(), {"begin", marker}, environment_);
        if (done.status != TestPeer::ExitStatus::exitedWith(0)) {
            report("quenra-drag-sim failed: " + done.error);
        }
        const auto event = next(milliseconds(15000));
        const std::string kind = type(event);
        if (kind == "PUBLISHED" && Requests::text(event, "token") == token) {
            ++counts_.published;
        } else {
            ++counts_.otherOutcomes;
            report("host " + std::to_string(index_) + " drag ended as " + kind);
        }
    }

    // An entry this host owns must be on disk, whole.
    void checkOwned(const std::string& preparedId) {
        const std::string directory = entries_ + "/" + preparedId;
        struct stat status {};
        const auto record = Files::readSmall(directory + "/entry.json", 65536);
        if (::lstat(directory.c_str(), &status) != 0 || !record) {
            ++counts_.lostEntries;
            report("owned entry " + preparedId + " is gone");
        }
    }

    boost::json::object exchange(const std::string& request) {
        const std::string requestId = lastId_;
        const auto sent = Clock::now();
        if (!host_->send(request)) {
            throw std::runtime_error("the host stopped reading");
        }
        boost::json::object reply = next(milliseconds(30000));
        lastMilliseconds_ = std::chrono::duration_cast<milliseconds>(Clock::now() - sent).count();
        if (Requests::text(reply, "requestId") != requestId) {
            ++counts_.malformed;
            report("reply without its request id: " + Requests::text(reply, "type"));
        }
        return reply;
    }

    // The next message, with its envelope checked.
    boost::json::object next(milliseconds timeout) {
        const auto frame = host_->readFrame(timeout);
        if (!frame) {
            throw std::runtime_error("no message in time");
        }
        ++counts_.replies;
        boost::json::object message;
        try {
            message = Requests::parse(*frame);
        } catch (const std::exception&) {
            ++counts_.malformed;
            return message;
        }
        const auto* session = message.if_contains("session");
        if (Requests::text(message, "type").empty() ||
            Requests::text(message, "protocolVersion") != "1.0" || session == nullptr ||
            !session->is_object() || Requests::text(session->get_object(), "id") != session_.id) {
            ++counts_.malformed;
            report("malformed message: " + *frame);
        }
        return message;
    }

    void unexpectedReply(const char* request, const boost::json::object& reply) {
        ++counts_.unexpected;
        const std::string& log = host_->standardError();
        report(std::string(request) + " answered " + Requests::text(reply, "type") + " " +
               Requests::text(reply, "code") + " after " + std::to_string(lastMilliseconds_) +
               " ms; host log ends: " + log.substr(log.size() > 200 ? log.size() - 200 : 0));
    }

    std::string nextId() {
        lastId_ = "r" + std::to_string(++requests_);
        return lastId_;
    }
    static std::string type(const boost::json::object& message) {
        return Requests::text(message, "type");
    }

    int index_;
    const Options& options_;
    const std::vector<std::string>& environment_;
    std::string entries_;
    Counts& counts_;
    Requests::Session session_;
    std::mt19937 random_;
    HostProcess* host_ = nullptr;
    int requests_ = 0;
    std::string lastId_;
    std::int64_t lastMilliseconds_ = 0;
};

void sweepLoop(const std::vector<std::string>& environment, Counts& counts,
               const std::atomic<bool>& running) {
    while (running) {
        const auto done = TestPeer::run(TestPeer::defaultHostPath(), {"--sweep"}, environment, {});
        ++counts.sweeps;
        boost::system::error_code error;
        const auto value = boost::json::parse(done.output, error);
        if (done.status != TestPeer::ExitStatus::exitedWith(0) || error || !value.is_object() ||
            value.as_object().size() != 5) {
            ++counts.badSweeps;
            report("bad sweep: " + done.output + done.error);
        } else {
            counts.sweepsSkipped += value.at("skipped").as_bool() ? 1 : 0;
            counts.sweptEntries += value.at("deleted").as_int64();
        }
        std::this_thread::sleep_for(milliseconds(100));
    }
}

Options parse(int argc, char** argv) {
    Options options;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const auto value = [&]() -> std::string {
            if (index + 1 >= argc) {
                throw std::invalid_argument(argument + " needs a value");
            }
            return argv[++index];
        };
        if (argument == "--hosts") {
            options.hosts = std::stoi(value());
        } else if (argument == "--cycles") {
            options.cycles = std::stoi(value());
        } else if (argument == "--prefill") {
            options.prefill = std::stoll(value());
        } else if (argument == "--sweep") {
            options.sweep = true;
        } else if (argument == "--home") {
            options.home = value();
        } else {
            throw std::invalid_argument("unknown option " + argument);
        }
    }
    return options;
}

std::string temporaryHome() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/quenra-stress-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary home");
    }
    return pattern;
}

// The run's cache in its home, made private and prefilled; returns the cache's root.
std::string prepareCache(const Options& options) {
    const std::string root = options.home + "/.cache/tech.ostrell.quenra.bridge";
    Files::ensurePrivateDirectory(options.home + "/.cache");
    Files::ensurePrivateDirectory(root);
    Files::ensurePrivateDirectory(root + "/entries");
    prefill(root, options.prefill);
    return root;
}

// Runs every host's cycles, with the sweep loop beside them when asked; returns the seconds the
// hosts took.
double driveHosts(const Options& options, const std::vector<std::string>& environment,
                  const std::string& root, Counts& counts) {
    std::atomic<bool> sweeping{true};
    std::thread sweeper;
    if (options.sweep) {
        sweeper =
            std::thread(sweepLoop, std::cref(environment), std::ref(counts), std::cref(sweeping));
    }
    const auto started = Clock::now();
    std::vector<std::unique_ptr<Driver>> drivers;
    std::vector<std::thread> threads;
    for (int index = 0; index < options.hosts; ++index) {
        drivers.push_back(std::make_unique<Driver>(index, options, environment, root, counts));
        threads.emplace_back(&Driver::run, drivers.back().get());
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    sweeping = false;
    if (sweeper.joinable()) {
        sweeper.join();
    }
    return seconds;
}

void printLine(const char* name, std::int64_t value) {
    std::printf("  %-34s %lld\n", name, static_cast<long long>(value));
}

void printCounts(const Counts& counts, const WatchCounts& seen, const FinalAudit& audit) {
    printLine("cycles completed", counts.cycles);
    printLine("replies and events read", counts.replies);
    printLine("prepared", counts.prepared);
    printLine("CACHE_FULL (retried)", counts.cacheFull);
    printLine("RATE_LIMITED (retried)", counts.rateLimited);
    printLine("INTERNAL after the 2 s lock wait", counts.lockWaitExpired);
    printLine("armed", counts.armed);
    printLine("BUSY", counts.busy);
    printLine("published by takeover", counts.published);
    printLine("cancelled", counts.cancelled);
    printLine("sweep runs", counts.sweeps);
    printLine("sweep runs skipped (lock busy)", counts.sweepsSkipped);
    printLine("entries removed by sweep runs", counts.sweptEntries);
    printLine("published entries aged", seen.aged);
    printLine("reader scans", seen.readerScans);
    printLine("locked limit scans", seen.limitScans);
    printLine("most entries seen under the lock", seen.mostEntries);
    printLine("most bytes seen under the lock", seen.mostBytes);
    printLine("retained entries left at the end", audit.retained);
}

// Prints every broken promise's count and what was left behind; returns their sum.
std::int64_t printFailures(const Counts& counts, const WatchCounts& seen, const FinalAudit& audit) {
    std::printf("  failures:\n");
    const std::int64_t failures[] = {
        counts.malformed,         counts.lostEntries,   seen.halfVisible,   seen.tornRecords,
        counts.busyWithoutHolder, counts.doubleArmed,   seen.limitBreaches, audit.leftovers,
        counts.unexpected,        counts.otherOutcomes, counts.starved,     counts.hostFailures,
        counts.badSweeps,
    };
    const char* names[] = {
        "malformed replies",   "owned entries lost",   "entries seen half-made",
        "torn records",        "BUSY with no holder",  "two drags armed at once",
        "limit breaches",      "leftovers after exit", "unexpected replies",
        "drags not published", "cycles starved",       "hosts that failed",
        "bad sweep runs",
    };
    std::int64_t total = 0;
    for (std::size_t index = 0; index < std::size(failures); ++index) {
        printLine(names[index], failures[index]);
        total += failures[index];
    }
    for (const std::string& example : audit.examples) {
        std::printf("  left: %s\n", example.c_str());
    }
    return total;
}

int run(int argc, char** argv) {
    Options options = parse(argc, argv);
    const bool ownHome = options.home.empty();
    if (ownHome) {
        options.home = temporaryHome();
    }
    const Limits& limits = Limits::standard();
    if (options.prefill < 0) {
        options.prefill = limits.cacheMaxEntries - options.hosts / 2;
    }
    const std::vector<std::string> environment = TestPeer::isolatedEnvironment(options.home);
    const std::string root = prepareCache(options);

    Counts counts;
    CacheWatch watch(root, limits);
    watch.start();
    const double seconds = driveHosts(options, environment, root, counts);
    watch.stop();
    const FinalAudit audit = auditAfterExit(root);

    std::printf("stress: %d hosts x %d cycles in %.1f s, cache prefilled with %lld of %lld\n",
                options.hosts, options.cycles, seconds, static_cast<long long>(options.prefill),
                static_cast<long long>(limits.cacheMaxEntries));
    printCounts(counts, watch.counts(), audit);
    std::int64_t total = printFailures(counts, watch.counts(), audit);
    if (counts.cycles != static_cast<std::int64_t>(options.hosts) * options.cycles) {
        ++total;
    }
    if (ownHome && total == 0) {
        std::filesystem::remove_all(options.home);
    } else {
        std::printf("  home kept at %s\n", options.home.c_str());
    }
    std::printf("stress: %s\n", total == 0 ? "passed" : "FAILED");
    return total == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quenra::Stress

int main(int argc, char** argv) {
    try {
        return quenra::Stress::run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "quenra-stress: %s\n", failure.what());
        return 64;
    }
}
