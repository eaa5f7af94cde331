// The deck's takes.json as found on disk, loaded by the take library, then used the way the deck's screens use
// a take: its span and cameras, its stored edit's ranges and pieces, the deck edit and the program's file name.

#include <cmath>

#include "deck/retouch_builder.h"
#include "deck/retouch_library.h"
#include "fuzz_support.h"

namespace morvane {
namespace {

// Copies that the seed files name; a clip whose copy is missing is dropped when the library loads.
const char* const copyNames[] = {"A.mov", "B.mov", "C.mov"};

void useTake(const RetouchTake& take) {
    (void)take.start();
    (void)take.end();
    (void)take.cameras();
    (void)take.defaultName();
    const auto name = RetouchBuilder::programFileName(take);
    fuzz::require(!name.empty() && name.find('/') == std::string::npos, "a program file name that is no name");
    const RetouchEdit edit = take.edit ? *take.edit : RetouchEdit::editFromLiveCut(take);
    const double length = take.end().timeIntervalSince(take.start());
    (void)edit.keptRanges();
    (void)edit.pieces();
    (void)edit.blocks(length);
    for (double t : {0.0, edit.trimStart, edit.trimEnd, length / 2}) {
        (void)edit.programTime(t);
        (void)edit.takeTime(t);
        (void)edit.camera(t);
        (void)edit.removedSection(t);
    }
    (void)RetouchLibrary::makeDeckEdit(take, edit);
    RetouchEdit normalized = edit;
    normalized.normalize();
}

}  // namespace
}  // namespace morvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    namespace fs = std::filesystem;
    const fs::path library = fuzz::scratchFolder() / "library";
    const fs::path program = fuzz::scratchFolder() / "program";
    std::error_code ec;
    fs::remove_all(library, ec);
    fs::create_directories(library);
    for (const char* name : copyNames) fuzz::writeFile(library / name, {});
    fuzz::writeFile(library / "takes.json", {data, size});

    std::vector<RetouchTake> loaded;
    {
        RetouchLibrary takes(library, program);
        loaded = takes.takes();
        for (const auto& take : loaded) useTake(take);
        (void)takes.recentDeckEdits();
        takes.save();
    }
    // What was loaded is written back whole and reads back the same.
    RetouchLibrary again(library, program);
    fuzz::require(again.takes() == loaded, "takes changed on their way through saving and loading");
    return 0;
}
