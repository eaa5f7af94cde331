// The settings file as found on disk: read, each kind of value asked of it, changed and written back.

#include "fuzz_support.h"
#include "platform/defaults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    namespace fs = std::filesystem;
    const fs::path folder = fuzz::scratchFolder() / "settings";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    const fs::path file = folder / "defaults.json";
    fuzz::writeFile(file, {data, size});

    // Keys of the seed files, each asked as every type.
    const char* const keys[] = {"flag", "number", "whole", "name", "list", "shootFolderBookmark", "x"};
    Defaults defaults(file);
    for (const char* key : keys) {
        (void)defaults.boolValue(key, false);
        (void)defaults.doubleValue(key, 0);
        (void)defaults.integerValue(key, 0);
        (void)defaults.stringValue(key, "");
        (void)defaults.stringList(key, {});
        (void)defaults.value(key);
    }
    const auto before = defaults.value("name");
    defaults.set("x", 1.5);
    Defaults again(file);
    fuzz::require(again.doubleValue("x", 0) == 1.5, "a setting written was not read back");
    fuzz::require(again.value("name") == before, "a setting changed on its way through writing and reading");
    return 0;
}
