#include "native_host/host_runtime.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "bridge_core/audio_library.h"
#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"
#include "native_host/connection.h"
#include "native_host/event_loop.h"
#include "native_host/host_cache.h"
#include "native_host/input_reader.h"
#include "native_host/output.h"
#include "platform/platform.h"
#include "platform/system_locations.h"
#include "system_services/system_clock.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_mouse_buttons.h"
#include "system_services/system_random.h"

namespace quenra::HostRuntime {

namespace {

// The process's one of everything. Made on the heap and never destroyed: the process ends by
// std::_Exit while the reader thread may still be blocked in a read.
struct Served {
    SystemClock clock;
    SystemRandom random;
    std::optional<Cache> cache;
    std::unique_ptr<DragBoard> board;
    std::unique_ptr<MouseButtons> mouse;
    std::optional<HostSession> session;
    EventLoop loop;
    std::optional<Connection> connection;
};

Served& served() {
    static Served* instance = new Served;
    return *instance;
}

[[noreturn]] void endBeforeSession(const char* tag) {
    Log::note(tag);
    std::_Exit(1);
}

}  // namespace

void start() {
    Served& process = served();
    const Limits& limits = Limits::standard();

    process.cache = HostCache::open(Cache::defaultRoot(), limits, process.clock, process.random);
    if (!process.cache)
        endBeforeSession("cache-unavailable");

    try {
        process.board = openSystemDragBoard();
        process.mouse = openSystemMouseButtons();
    } catch (const FileFailure&) {
        endBeforeSession("drag-board-unavailable");
    }

    const std::optional<std::string> music = SystemLocations::userMusicDirectory();
    process.session.emplace(SessionEnvironment{
        *process.cache, *process.board, *process.mouse, process.clock, process.random, limits,
        Platform::current(),
        music ? *music + "/" + std::string(AudioLibrary::folderName) : std::string()});
    process.connection.emplace(
        process.loop, *process.session,
        Connection::Exits{
            [](std::span<const std::uint8_t> frame) { return Output::write(frame); },
            [](int status) { std::_Exit(status); },
        });
    process.connection->startSweepTimer();

    // The session exists before the first item can arrive. Nothing has been read or answered
    // yet, and nothing is owned, when no reader can be had.
    try {
        InputReader::start(STDIN_FILENO, process.loop, *process.connection, limits);
    } catch (const std::system_error&) {
        process.connection->end(Connection::Ending::readerUnavailable);
    } catch (const std::bad_alloc&) {
        process.connection->end(Connection::Ending::outOfMemory);
    }
    // The hash library loads its provider on first use, a couple of milliseconds: paid here,
    // while the reader starts and reads the first request, so never inside a PREPARE. Without
    // the memory for it now, the first PREPARE pays instead.
    try {
        (void)Hashing::sha256({});
    } catch (const std::bad_alloc&) {
    }
}

void runMainLoop() {
    served().loop.run();
}

int serve() {
    try {
        start();
    } catch (const std::bad_alloc&) {
        // Before the reader starts: no request has been answered, no entry is owned.
        endBeforeSession("out-of-memory");
    }
    runMainLoop();
    return 0;
}

}  // namespace quenra::HostRuntime
