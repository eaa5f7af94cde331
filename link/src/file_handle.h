#pragma once

#include <cstdio>
#include <memory>

namespace morvane {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

/// A stdio file closed when its owner lets go.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace morvane
