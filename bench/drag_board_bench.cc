// What the armed host pays on the Linux drag board every 5 ms: the change-count read of an idle
// poll, and the full read behind types() when the count moved. The baseline is one fstatat on
// the same folder, the cheapest look at the board there is; compare the ratios, not the times.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "bridge_core/services.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"

namespace quenra {
namespace {

struct Board {
    Board() {
        folder = std::make_shared<const DragBoardFolder>(root + "/board");
        board = std::make_unique<FileDragBoard>(folder);
        board->update([](DragBoardState& state) {
            state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
            state.setString(PasteboardType::plainText,
                            "QNR_DAW_DRAG/v1/0123456789abcdef/AAAAAAAAAAAAAAAAAAAAAA");
        });
    }
    testing::TemporaryDirectory temporary;
    std::string root = temporary.path();
    std::shared_ptr<const DragBoardFolder> folder;
    std::unique_ptr<FileDragBoard> board;
};

Board& shared() {
    static Board board;
    return board;
}

void BM_BaselineStatOfTheCountFile(benchmark::State& state) {
    const std::string path = shared().root + "/board/change-count";
    for (auto _ : state) {
        struct stat status {};
        benchmark::DoNotOptimize(::stat(path.c_str(), &status));
    }
}
BENCHMARK(BM_BaselineStatOfTheCountFile);

void BM_ChangeCount(benchmark::State& state) {
    FileDragBoard& board = *shared().board;
    for (auto _ : state) {
        benchmark::DoNotOptimize(board.changeCount());
    }
}
BENCHMARK(BM_ChangeCount);

void BM_TypesAndPlainText(benchmark::State& state) {
    FileDragBoard& board = *shared().board;
    for (auto _ : state) {
        benchmark::DoNotOptimize(board.types());
        benchmark::DoNotOptimize(board.plainText());
    }
}
BENCHMARK(BM_TypesAndPlainText);

}  // namespace
}  // namespace quenra

BENCHMARK_MAIN();
