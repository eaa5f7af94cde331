#include "camera/take_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "camera/deck_copy.h"
#include "camera/take_recovery.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournal = ".journal", kReserve = ".reserve", kNewJournal = ".journal.new";

// The file of a hidden name beside it: ".<file><suffix>".
std::optional<std::string> ofHidden(const std::string& name, std::string_view suffix) {
    if (name.size() <= 1 + suffix.size() || name[0] != '.' || !name.ends_with(suffix)) return std::nullopt;
    std::string of = name.substr(1, name.size() - 1 - suffix.size());
    if (of.empty() || of == "." || of == "..") return std::nullopt;
    return of;
}

// ".<file>.<8 letters or digits>.tmp": what a whole-file write names its bytes until they take the file's name.
std::optional<std::string> ofCutWrite(const std::string& name) {
    constexpr std::size_t letters = 8, tail = 1 + letters + 4;
    if (name.size() < 2 + tail || name[0] != '.' || !name.ends_with(".tmp") || name[name.size() - tail] != '.')
        return std::nullopt;
    for (std::size_t i = name.size() - 4 - letters; i < name.size() - 4; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return std::nullopt;
    }
    return name.substr(1, name.size() - 1 - tail);
}

std::optional<fs::path> movieOfHidden(const fs::path& file, std::string_view suffix) {
    auto movie = ofHidden(file.filename().string(), suffix);
    if (!movie) return std::nullopt;
    return file.parent_path() / *movie;
}

}  // namespace

fs::path journalOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + std::string(kJournal));
}

fs::path reserveOf(const fs::path& movie) {
    return movie.parent_path() / ("." + movie.filename().string() + std::string(kReserve));
}

std::optional<fs::path> movieOfJournal(const fs::path& file) {
    return movieOfHidden(file, kJournal);
}

std::optional<fs::path> movieOfReserve(const fs::path& file) {
    return movieOfHidden(file, kReserve);
}

LeftFile classify(const std::string& name) {
    using Kind = LeftFile::Kind;
    if (name.empty() || name.find('/') != std::string::npos) return {};
    if (name[0] == '.') {
        if (auto movie = ofHidden(name, kJournal)) return {Kind::journal, *movie};
        if (auto movie = ofHidden(name, kReserve)) return {Kind::reserve, *movie};
        if (auto movie = ofHidden(name, kNewJournal)) return {Kind::newJournal, *movie};
        if (auto copy = deckCopyOfPartial(name)) return {Kind::deckPartial, copy->filename().string()};
        if (auto file = ofCutWrite(name)) return {Kind::cutWrite, *file};
        return {Kind::hidden, {}};
    }
    const std::string extension = fs::path(name).extension().string();
    if (extension == ".mov") return {Kind::movie, {}};
    if (extension == ".jpg") return {Kind::photo, {}};
    if (extension == TakeRecovery::setAsideSuffix) return {Kind::setAside, {}};
    return {};
}

int createLockedJournal(const fs::path& journal) {
    // Under its own hidden name until locked: a start that lists the folder meanwhile sees no journal, or a held one.
    const fs::path made = journal.parent_path() / (journal.filename().string() + ".new");
    const int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(made.c_str(), journal.c_str()) != 0) {
        ::close(fd);
        ::unlink(made.c_str());
        return -1;
    }
    return fd;
}

JournalLock::JournalLock(const fs::path& journal) {
    fd_ = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        state_ = errno == EWOULDBLOCK ? State::held : State::missing;
        ::close(fd_);
        fd_ = -1;
        return;
    }
    state_ = State::taken;
}

JournalLock::JournalLock(JournalLock&& other) noexcept : fd_(other.fd_), state_(other.state_) {
    other.fd_ = -1;
}

JournalLock::~JournalLock() {
    release();
}

void JournalLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool journalHeld(const fs::path& journal) {
    return JournalLock(journal).state() == JournalLock::State::held;
}

}  // namespace morvane
