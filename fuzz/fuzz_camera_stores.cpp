// The camera's list files as found on disk: the take log, the outbox and the capture index. The first byte picks
// the file; whatever an entry decodes to must be written and read back the same.

#include "camera/capture_store.h"
#include "camera/outbox.h"
#include "camera/take_log.h"
#include "fuzz_support.h"
#include "platform/manual_executor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    namespace fs = std::filesystem;
    using fuzz::require;
    if (size == 0) return 0;
    const fs::path folder = fuzz::scratchFolder() / "camera";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    const fuzz::Input contents(data + 1, size - 1);

    switch (data[0] % 3) {
        case 0: {
            fuzz::writeFile(folder / "takes.json", contents);
            const TakeLog log(folder / "takes.json");
            for (const auto& entry : log.entries()) {
                auto again = TakeLog::decode(Json::parse(TakeLog::encode(entry).dump()));
                require(again && *again == entry, "a take log entry changed on its way back");
            }
            break;
        }
        case 1: {
            static auto main = std::make_shared<ManualExecutor>();
            fuzz::writeFile(folder / "outbox.json", contents);
            const Outbox outbox(folder, main);
            for (const auto& item : outbox.items()) {
                auto again = Outbox::decode(Json::parse(Outbox::encode(item).dump()));
                require(again && *again == item, "an outbox entry changed on its way back");
            }
            main->runPending();
            break;
        }
        default: {
            fuzz::writeFile(folder / "index.json", contents);
            const CaptureStore store(folder);
            for (const auto& item : store.items()) (void)store.preview(item.id);
            break;
        }
    }
    return 0;
}
