// A filed movie's start timecode, read by the walk over its atoms (the file is the input as it lies on disk).

#include "fuzz_support.h"
#include "shoot_library/shoot_library.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const auto movie = fuzz::scratchFolder() / "movie.mov";
    fuzz::writeFile(movie, {data, size});
    (void)ShootLibrary::readTimecodeStart(movie);
    return 0;
}
