#include "recording/unchanged_pictures.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace morvane {

namespace {

// The units of an Annex B stream: each one's bytes after its start code.
std::vector<std::pair<const std::uint8_t*, std::size_t>> units(const std::uint8_t* data, std::size_t size) {
    std::vector<std::pair<const std::uint8_t*, std::size_t>> found;
    std::size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX) {
                std::size_t end = i;
                while (end > start && data[end - 1] == 0) --end;  // a four-byte start code's zero
                found.emplace_back(data + start, end - start);
            }
            i += 3;
            start = i;
            continue;
        }
        ++i;
    }
    if (start != SIZE_MAX && start < size) found.emplace_back(data + start, size - start);
    return found;
}

// A unit's payload without its emulation prevention bytes.
std::vector<std::uint8_t> unescape(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

// Appends `payload` with emulation prevention bytes; `zeros` carries the zero bytes that end what came before.
void escape(const std::vector<std::uint8_t>& payload, std::size_t from, std::size_t to, std::vector<std::uint8_t>& out,
            int& zeros) {
    for (std::size_t i = from; i < to; ++i) {
        if (zeros >= 2 && payload[i] <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = payload[i] == 0 ? zeros + 1 : 0;
        out.push_back(payload[i]);
    }
}

struct BitReader {
    const std::vector<std::uint8_t>& bytes;
    std::size_t pos = 0;  ///< in bits

    std::uint32_t u(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos >= bytes.size() * 8) throw std::out_of_range("past the end");
            v = (v << 1) | ((bytes[pos / 8] >> (7 - pos % 8)) & 1);
            ++pos;
        }
        return v;
    }
    std::uint32_t ue() {
        int zeros = 0;
        while (u(1) == 0)
            if (++zeros > 31) throw std::out_of_range("no code");
        return zeros ? (1u << zeros) - 1 + u(zeros) : 0;
    }
    std::int32_t se() {
        const std::uint32_t k = ue();
        return k & 1 ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
    }
};

struct BitWriter {
    std::vector<std::uint8_t> bytes;
    int used = 8;  ///< bits used of the last byte

    void bit(int b) {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        if (b) bytes.back() |= static_cast<std::uint8_t>(0x80 >> used);
        ++used;
    }
    void u(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
    }
    void ue(std::uint32_t v) {
        const std::uint32_t x = v + 1;
        int length = 0;
        while ((x >> length) > 1) ++length;
        u(0, length);
        u(x, length + 1);
    }
    void se(std::int32_t v) { ue(v > 0 ? static_cast<std::uint32_t>(2 * v - 1) : static_cast<std::uint32_t>(-2 * v)); }
    /// A one, then zeros to the byte's end.
    void align() {
        bit(1);
        while (used != 8) bit(0);
    }
};

// The arithmetic coder of the stream's entropy coding, for the few context-coded flags of a picture of skipped blocks
// and its terminating bins.
class Cabac {
public:
    struct Context {
        std::uint8_t state = 0;
        std::uint8_t mps = 0;
    };

    static Context init(int initValue, int qp) {
        const int m = (initValue >> 4) * 5 - 45, n = ((initValue & 15) << 3) - 16;
        const int pre = std::clamp(((m * std::clamp(qp, 0, 51)) >> 4) + n, 1, 126);
        return pre <= 63 ? Context{static_cast<std::uint8_t>(63 - pre), 0}
                         : Context{static_cast<std::uint8_t>(pre - 64), 1};
    }

    void decision(Context& c, int bin) {
        const int lps = kRangeLps[c.state][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != c.mps) {
            low_ += range_;
            range_ = lps;
            if (c.state == 0) c.mps = static_cast<std::uint8_t>(1 - c.mps);
            c.state = kNextLps[c.state];
        } else if (c.state < 62) {
            ++c.state;
        }
        renormalize();
    }

    void terminate(int bin) {
        range_ -= 2;
        if (bin) {
            low_ += range_;
            range_ = 2;
            renormalize();
            put((low_ >> 9) & 1);
            out_.u(((low_ >> 7) & 3) | 1, 2);  // its last one ends the data or aligns it
            while (out_.used != 8) out_.bit(0);
        } else {
            renormalize();
        }
    }

    std::vector<std::uint8_t> take() { return std::move(out_.bytes); }

private:
    void renormalize() {
        while (range_ < 256) {
            if (low_ < 256) {
                put(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                put(1);
            } else {
                low_ -= 256;
                ++outstanding_;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void put(int b) {
        if (first_) {
            first_ = false;
        } else {
            out_.bit(b);
        }
        for (; outstanding_ > 0; --outstanding_) out_.bit(1 - b);
    }

    static constexpr std::uint8_t kRangeLps[64][4] = {
        {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205}, {116, 142, 169, 195},
        {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166}, {95, 116, 137, 158},  {90, 110, 130, 150},
        {85, 104, 123, 142},  {81, 99, 117, 135},   {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},
        {66, 80, 95, 110},    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
        {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},     {41, 50, 59, 69},
        {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},     {33, 41, 48, 56},     {32, 39, 46, 53},
        {30, 37, 43, 50},     {29, 35, 41, 48},     {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},
        {23, 28, 33, 39},     {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
        {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},     {14, 18, 21, 24},
        {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},     {12, 14, 17, 20},     {11, 14, 16, 19},
        {11, 13, 15, 18},     {10, 12, 15, 17},     {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},
        {8, 10, 12, 14},      {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
        {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2}};
    static constexpr std::uint8_t kNextLps[64] = {0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12,
                                                  13, 13, 15, 15, 16, 16, 18, 18, 19, 19, 21, 21, 22, 22, 23, 24,
                                                  24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30, 31, 32, 32, 33,
                                                  33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63};

    std::uint32_t low_ = 0, range_ = 510;
    int outstanding_ = 0;
    bool first_ = true;
    BitWriter out_;
};

// A short-term set of references as the stream codes it: the number of pictures before it that it keeps, when they
// are the ones right before it; -1 for any other set (pictures after it, gaps, a set predicted from another).
int readShortTermSet(BitReader& r, int index) {
    if (index != 0 && r.u(1)) return -1;  // predicted from another set
    const std::uint32_t negative = r.ue(), positive = r.ue();
    if (negative > 16 || positive > 16) return -1;
    bool consecutive = positive == 0;
    for (std::uint32_t i = 0; i < negative; ++i) {
        if (r.ue() != 0) consecutive = false;
        r.u(1);
    }
    for (std::uint32_t i = 0; i < positive; ++i) {
        r.ue();
        r.u(1);
    }
    return consecutive ? static_cast<int>(negative) : -1;
}

void skipProfileTierLevel(BitReader& r, int subLayers) {
    r.u(32);
    r.u(32);
    r.u(32);  // 88 bits of the general profile and the level's 8
    std::vector<std::pair<int, int>> present;
    for (int i = 0; i < subLayers; ++i) {
        const int profile = static_cast<int>(r.u(1));
        present.emplace_back(profile, static_cast<int>(r.u(1)));
    }
    if (subLayers > 0)
        for (int i = subLayers; i < 8; ++i) r.u(2);
    for (const auto& [profile, level] : present) {
        if (profile) {
            r.u(32);
            r.u(32);
            r.u(24);
        }
        if (level) r.u(8);
    }
}

constexpr int kIdrW = 19, kIdrN = 20, kTrailR = 1;

}  // namespace

std::unique_ptr<UnchangedPictures> UnchangedPictures::make(const std::uint8_t* extradata, std::size_t size) {
    if (!extradata || size < 4 || extradata[0] == 1) return nullptr;  // parameter sets in a box: not Annex B
    Parameters p;
    bool sps = false, pps = false;
    try {
        for (const auto& [data, length] : units(extradata, size)) {
            if (length < 3) continue;
            const int type = (data[0] >> 1) & 63;
            const auto rbsp = unescape(data + 2, length - 2);
            BitReader r{rbsp};
            if (type == 33 && !sps) {
                r.u(4);
                const int subLayers = static_cast<int>(r.u(3));
                r.u(1);
                skipProfileTierLevel(r, subLayers);
                r.ue();
                const std::uint32_t chroma = r.ue();
                if (chroma == 3 && r.u(1)) return nullptr;  // colour planes apart
                p.chroma = chroma != 0;
                p.width = static_cast<int>(r.ue());
                p.height = static_cast<int>(r.ue());
                if (r.u(1))
                    for (int i = 0; i < 4; ++i) r.ue();
                r.ue();
                r.ue();
                p.log2MaxPocLsb = static_cast<int>(r.ue()) + 4;
                const bool ordering = r.u(1);
                for (int i = ordering ? 0 : subLayers; i <= subLayers; ++i) {
                    r.ue();
                    r.ue();
                    r.ue();
                }
                p.log2MinCb = static_cast<int>(r.ue()) + 3;
                p.log2Ctb = p.log2MinCb + static_cast<int>(r.ue());
                r.ue();
                r.ue();
                r.ue();
                r.ue();
                if (r.u(1) && r.u(1)) return nullptr;  // scaling lists of its own
                r.u(1);
                p.sao = r.u(1);
                if (r.u(1)) {  // PCM
                    r.u(8);
                    r.ue();
                    r.ue();
                    r.u(1);
                }
                p.shortTermSets = static_cast<int>(r.ue());
                if (p.shortTermSets > 64) return nullptr;
                for (int i = 0; i < p.shortTermSets; ++i) p.setKeeps.push_back(readShortTermSet(r, i));
                if (r.u(1)) return nullptr;  // long-term references
                if (r.u(1)) return nullptr;  // motion taken from an earlier picture
                sps = true;
            } else if (type == 34 && !pps) {
                p.ppsId = static_cast<int>(r.ue());
                r.ue();
                if (r.u(1)) return nullptr;  // dependent slice segments
                p.outputFlag = r.u(1);
                p.extraSliceHeaderBits = static_cast<int>(r.u(3));
                r.u(1);
                p.cabacInitPresent = r.u(1);
                p.activeReferences = static_cast<int>(r.ue()) + 1;
                r.ue();
                p.initQp = 26 + r.se();
                r.u(1);
                r.u(1);
                if (r.u(1)) r.ue();
                r.se();
                r.se();
                p.sliceChromaQpOffsets = r.u(1);
                p.weightedPred = r.u(1);
                r.u(1);
                if (r.u(1)) return nullptr;  // lossless blocks
                if (r.u(1)) return nullptr;  // tiles
                p.wavefronts = r.u(1);
                p.loopFilterAcrossSlices = r.u(1);
                if (r.u(1)) {
                    p.deblockingOverride = r.u(1);
                    p.deblockingDisabled = r.u(1);
                    if (!p.deblockingDisabled) {
                        r.se();
                        r.se();
                    }
                }
                if (r.u(1)) return nullptr;  // scaling lists of its own
                if (r.u(1)) return nullptr;  // reference lists reordered
                r.ue();
                p.sliceHeaderExtension = r.u(1);
                pps = true;
            }
        }
    } catch (const std::out_of_range&) {
        return nullptr;
    }
    if (!sps || !pps || p.width <= 0 || p.height <= 0 || p.log2Ctb > 6 || p.log2MaxPocLsb > 16 ||
        p.width % (1 << p.log2MinCb) || p.height % (1 << p.log2MinCb))
        return nullptr;
    return std::unique_ptr<UnchangedPictures>(new UnchangedPictures(std::move(p)));
}

std::optional<std::vector<std::uint8_t>> UnchangedPictures::follow(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size + 16);
    bool picture = false;
    try {
        for (const auto& [unit, length] : units(data, size)) {
            out.insert(out.end(), {0, 0, 0, 1});
            const int type = length >= 2 ? (unit[0] >> 1) & 63 : -1;
            if (type < 0 || type > 21) {  // no picture: as it is
                out.insert(out.end(), unit, unit + length);
                continue;
            }
            auto rbsp = unescape(unit + 2, length - 2);
            BitReader r{rbsp};
            const bool first = r.u(1);
            if (type >= 16) r.u(1);
            if (static_cast<int>(r.ue()) != p_.ppsId || !first) return std::nullopt;
            r.u(p_.extraSliceHeaderBits);
            const std::uint32_t sliceType = r.ue();
            if (p_.outputFlag) r.u(1);
            if (type == kIdrW || type == kIdrN) {
                // The count starts anew, and the picture stands alone.
                pocShift_ = 0;
                lastPoc_ = 0;
                held_ = 1;
                canRepeat_ = true;
                out.insert(out.end(), unit, unit + length);
                picture = true;
                continue;
            }
            const std::size_t at = r.pos;
            const int bits = p_.log2MaxPocLsb, mask = (1 << bits) - 1;
            const int lsb = static_cast<int>(r.u(bits));
            int keeps = -1;
            if (!r.u(1)) {
                keeps = readShortTermSet(r, p_.shortTermSets);
            } else {
                int index = 0;
                if (p_.shortTermSets > 1) {
                    int length = 0;
                    while ((1 << length) < p_.shortTermSets) ++length;
                    index = static_cast<int>(r.u(length));
                }
                keeps = index < p_.shortTermSets ? p_.setKeeps[std::size_t(index)] : -1;
            }
            if (p_.sao) {
                r.u(1);
                if (p_.chroma) r.u(1);
            }
            // Predicted from the picture right before alone (or from none).
            int active = sliceType == 2 ? 0 : p_.activeReferences;
            if (sliceType == 1 && r.u(1)) active = static_cast<int>(r.ue()) + 1;
            const bool before = sliceType != 0 && keeps >= 0 && (active == 0 || (active == 1 && keeps >= 1));
            // The order count moved on by the repeats before it, in the same bits.
            const int poc = (lsb + pocShift_) & mask;
            for (int i = 0; i < bits; ++i) {
                const std::size_t bit = at + std::size_t(i);
                const auto value = static_cast<std::uint8_t>(((poc >> (bits - 1 - i)) & 1) << (7 - bit % 8));
                rbsp[bit / 8] = static_cast<std::uint8_t>((rbsp[bit / 8] & ~(0x80 >> (bit % 8))) | value);
            }
            lastPoc_ = poc;
            // A picture nothing refers to (an even type below the random access points) cannot be repeated so.
            canRepeat_ = before && (type % 2 == 1 || type >= 16);
            if (canRepeat_) {
                keep_ = std::max(keep_, keeps);
                held_ = keeps + 1;
            }
            out.push_back(unit[0]);
            out.push_back(unit[1]);
            int zeros = 0;
            escape(rbsp, 0, rbsp.size(), out, zeros);
            picture = true;
        }
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
    if (!picture) return std::nullopt;
    return out;
}

std::vector<std::uint8_t> UnchangedPictures::sliceData(std::vector<std::uint32_t>& rowBytes) const {
    const int ctb = 1 << p_.log2Ctb, minCb = 1 << p_.log2MinCb;
    const int columns = (p_.width + ctb - 1) / ctb, rows = (p_.height + ctb - 1) / ctb;
    const int qp = p_.initQp;
    // The contexts of the flags coded (a P slice without its own initialisation).
    const int splitInit[3] = {107, 139, 126}, skipInit[3] = {197, 185, 201};
    std::array<Cabac::Context, 3> split{}, skip{}, savedSplit{}, savedSkip{};
    auto initContexts = [&] {
        for (int i = 0; i < 3; ++i) {
            split[std::size_t(i)] = Cabac::init(splitInit[i], qp);
            skip[std::size_t(i)] = Cabac::init(skipInit[i], qp);
        }
    };
    // The depth of the coding block at each smallest block, for the split flag's context.
    const int gridW = p_.width / minCb, gridH = p_.height / minCb;
    std::vector<std::uint8_t> depth(std::size_t(gridW) * std::size_t(gridH), 0);
    std::vector<std::uint8_t> data;
    auto code = [&](Cabac& cabac, auto& self, int x0, int y0, int log2Size, int cqtDepth) -> void {
        const int size = 1 << log2Size;
        const bool inside = x0 + size <= p_.width && y0 + size <= p_.height;
        bool splitHere = false;
        if (inside && log2Size > p_.log2MinCb) {
            int inc = 0;
            if (x0 > 0 && depth[std::size_t(y0 / minCb * gridW + (x0 - 1) / minCb)] > cqtDepth) ++inc;
            if (y0 > 0 && depth[std::size_t((y0 - 1) / minCb * gridW + x0 / minCb)] > cqtDepth) ++inc;
            cabac.decision(split[std::size_t(inc)], 0);
        } else {
            splitHere = log2Size > p_.log2MinCb;
        }
        if (splitHere) {
            const int half = size / 2;
            for (int i = 0; i < 4; ++i) {
                const int x = x0 + (i % 2) * half, y = y0 + (i / 2) * half;
                if (x < p_.width && y < p_.height) self(cabac, self, x, y, log2Size - 1, cqtDepth + 1);
            }
            return;
        }
        for (int y = y0 / minCb; y < std::min(gridH, (y0 + size) / minCb); ++y)
            for (int x = x0 / minCb; x < std::min(gridW, (x0 + size) / minCb); ++x)
                depth[std::size_t(y * gridW + x)] = static_cast<std::uint8_t>(cqtDepth);
        // Skipped: every block around is, where there is one.
        cabac.decision(skip[std::size_t((x0 > 0 ? 1 : 0) + (y0 > 0 ? 1 : 0))], 1);
    };
    initContexts();
    std::optional<Cabac> cabac;
    for (int row = 0; row < rows; ++row) {
        if (!cabac) cabac.emplace();
        if (p_.wavefronts && row > 0) {
            // Each row its own stream, its contexts those after the second block of the row above.
            if (columns > 1) {
                split = savedSplit;
                skip = savedSkip;
            } else {
                initContexts();
            }
        }
        for (int column = 0; column < columns; ++column) {
            code(*cabac, code, column * ctb, row * ctb, p_.log2Ctb, 0);
            if (column == 1) {
                savedSplit = split;
                savedSkip = skip;
            }
            const bool last = row == rows - 1 && column == columns - 1;
            cabac->terminate(last ? 1 : 0);
            if (!last && p_.wavefronts && column == columns - 1) {
                cabac->terminate(1);  // the row's stream ends
                auto bytes = cabac->take();
                rowBytes.push_back(static_cast<std::uint32_t>(bytes.size()));
                data.insert(data.end(), bytes.begin(), bytes.end());
                cabac.reset();
            }
        }
    }
    auto bytes = cabac->take();
    rowBytes.push_back(static_cast<std::uint32_t>(bytes.size()));
    data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
}

std::vector<std::uint8_t> UnchangedPictures::repeat() {
    ++pocShift_;
    const int poc = (lastPoc_ + 1) & ((1 << p_.log2MaxPocLsb) - 1);
    lastPoc_ = poc;
    const int keeps = std::max(1, std::min(keep_, held_));
    held_ = keeps + 1;

    std::vector<std::uint32_t> rowBytes;
    const std::vector<std::uint8_t> data = sliceData(rowBytes);
    // Where each row's stream begins, counted in the bytes as written (emulation prevention included): the header
    // ends in a byte that is not zero, so the data's escaping does not depend on it.
    std::vector<std::uint8_t> escaped;
    std::vector<std::uint32_t> offsets;
    int zeros = 0;
    std::size_t from = 0;
    for (const std::uint32_t bytes : rowBytes) {
        const std::size_t before = escaped.size();
        escape(data, from, from + bytes, escaped, zeros);
        offsets.push_back(static_cast<std::uint32_t>(escaped.size() - before));
        from += bytes;
    }

    BitWriter h;
    h.u(1, 1);  // first slice segment of the picture
    h.ue(static_cast<std::uint32_t>(p_.ppsId));
    h.u(0, p_.extraSliceHeaderBits);
    h.ue(1);  // P
    if (p_.outputFlag) h.u(1, 1);
    h.u(static_cast<std::uint32_t>(poc), p_.log2MaxPocLsb);
    // References: the picture before, and as many before it as the encoder's pictures keep.
    h.u(0, 1);
    if (p_.shortTermSets != 0) h.u(0, 1);
    h.ue(static_cast<std::uint32_t>(keeps));
    h.ue(0);
    for (int i = 0; i < keeps; ++i) {
        h.ue(0);
        h.u(i == 0 ? 1 : 0, 1);
    }
    if (p_.sao) {
        h.u(0, 1);
        if (p_.chroma) h.u(0, 1);
    }
    h.u(1, 1);  // one reference
    h.ue(0);
    if (p_.cabacInitPresent) h.u(0, 1);
    if (p_.weightedPred) {
        h.ue(0);
        if (p_.chroma) h.se(0);
        h.u(0, 1);
        if (p_.chroma) h.u(0, 1);
    }
    h.ue(4);  // one merge candidate: the block unmoved
    h.se(0);
    if (p_.sliceChromaQpOffsets) {
        h.se(0);
        h.se(0);
    }
    if (p_.deblockingOverride) h.u(0, 1);
    if (p_.loopFilterAcrossSlices && !p_.deblockingDisabled) h.u(0, 1);
    if (p_.wavefronts) {
        h.ue(static_cast<std::uint32_t>(offsets.size() - 1));
        if (offsets.size() > 1) {
            std::uint32_t largest = 1;
            for (std::size_t i = 0; i + 1 < offsets.size(); ++i) largest = std::max(largest, offsets[i]);
            int length = 1;
            while (length < 32 && ((largest - 1) >> length) != 0) ++length;
            h.ue(static_cast<std::uint32_t>(length - 1));
            for (std::size_t i = 0; i + 1 < offsets.size(); ++i) h.u(offsets[i] - 1, length);
        }
    }
    if (p_.sliceHeaderExtension) h.ue(0);
    h.align();

    std::vector<std::uint8_t> out = {0, 0, 0, 1, static_cast<std::uint8_t>(kTrailR << 1), 1};
    zeros = 0;
    escape(h.bytes, 0, h.bytes.size(), out, zeros);
    out.insert(out.end(), escaped.begin(), escaped.end());
    return out;
}

}  // namespace morvane
