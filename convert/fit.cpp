// Fitting a song into the 31 banks a HuC6280 maps: a VGM image in; the same song
// with its runs of PCM writes played as DAC streams out, and what was changed.
#include "convert/fit.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

#include "convert/commands.h"
#include "convert/compact.h"
#include "convert/patch.h"

namespace quorvel {
namespace {

constexpr std::uint8_t kStream = 0x00;    // the stream the runs play through
constexpr std::uint8_t kDacRegister = 0x2A;

struct Run {
    std::size_t first = 0; // input positions of its first and its last PCM write
    std::size_t last = 0;
    bool direct = false;   // DAC writes (0x52 0x2A), else 0x8n
    std::uint32_t count = 0;
    std::uint64_t firstTime = 0; // in samples
    std::uint64_t lastTime = 0;
    std::uint32_t offset = 0;    // the data bank position of its first sample
    double hz = 0;               // the rate its stream plays at
    std::vector<std::uint64_t> times;    // each write's time and input position
    std::vector<std::size_t> positions;
    Bytes samples;                       // direct writes: their samples
};

constexpr double kSlack = 4; // samples a stream's sample may stray from its write's time

// Samples [from, to) of run r as a run of their own.
Run piece(const Run& r, std::size_t from, std::size_t to, double hz)
{
    Run p;
    p.first = r.positions[from];
    p.last = r.positions[to - 1];
    p.direct = r.direct;
    p.count = static_cast<std::uint32_t>(to - from);
    p.firstTime = r.times[from];
    p.lastTime = r.times[to - 1];
    p.offset = r.offset + static_cast<std::uint32_t>(from);
    p.hz = hz;
    p.times.assign(r.times.begin() + static_cast<long>(from), r.times.begin() + static_cast<long>(to));
    p.positions.assign(r.positions.begin() + static_cast<long>(from), r.positions.begin() + static_cast<long>(to));
    if (r.direct) p.samples.assign(r.samples.begin() + static_cast<long>(from), r.samples.begin() + static_cast<long>(to));
    return p;
}

// Splits run r into pieces each played at a constant rate from its first write's
// time, with every sample within kSlack samples of its write's: the slopes through
// the first sample that keep all so far within the slack narrow with each sample,
// and a piece ends where none is left.
void splitByTime(const Run& r, std::vector<Run>& pieces)
{
    std::size_t from = 0;
    while (from < r.count) {
        double low = 0, high = 1e300; // samples of time per sample
        std::size_t to = from + 1;
        for (; to < r.count; ++to) {
            const double span = static_cast<double>(r.times[to] - r.times[from]);
            const double steps = static_cast<double>(to - from);
            const double newLow = std::max(low, (span - kSlack) / steps);
            const double newHigh = std::min(high, (span + kSlack) / steps);
            if (newLow > newHigh) break;
            low = newLow;
            high = newHigh;
        }
        const double slope = to - from > 1 ? (low + high) / 2 : 1;
        pieces.push_back(piece(r, from, to, slope > 0 ? 44100 / slope : 4294967295.0));
        from = to;
    }
}

constexpr std::size_t kMatchWindow = 32; // samples hashed to find a run's samples again
constexpr std::size_t kMinMatch = 48;    // the shortest stretch played from earlier samples
constexpr std::size_t kCandidates = 64;  // places kept for each window (silence repeats)

// The block of direct writes' samples: a stretch found again is played from where it
// was first kept, so that a drum played over and over is kept once.
class SampleBlock {
public:
    const Bytes& bytes() const { return block_; }

    // Splits direct run `r` into stretches, each found in the block (at least
    // kMinMatch samples) or appended to it, and adds them to `runs`.
    void split(const Run& r, std::vector<Run>& runs)
    {
        std::size_t k = 0;
        while (k < r.count) {
            std::size_t length = 0, at = 0;
            find(r.samples, k, length, at);
            if (length == 0) {
                at = block_.size();
                while (k + length < r.count && (length == 0 || !startsMatch(r.samples, k + length))) {
                    block_.push_back(r.samples[k + length]);
                    ++length;
                }
                index();
            }
            runs.push_back(piece(r, k, k + length, 0));
            runs.back().offset = static_cast<std::uint32_t>(at);
            k += length;
        }
    }

private:
    static std::uint64_t hash(const std::uint8_t* p)
    {
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t n = 0; n < kMatchWindow; ++n) h = (h ^ p[n]) * 1099511628211ull;
        return h;
    }

    // Every window of the block that ends inside it is in the index.
    void index()
    {
        for (; indexed_ + kMatchWindow <= block_.size(); ++indexed_) {
            std::vector<std::size_t>& starts = windows_[hash(block_.data() + indexed_)];
            if (starts.size() < kCandidates) starts.push_back(indexed_);
        }
    }

    // The longest stretch of the block equal to samples[k..], if kMinMatch or longer.
    void find(const Bytes& samples, std::size_t k, std::size_t& length, std::size_t& at) const
    {
        length = 0;
        if (samples.size() - k < kMinMatch) return;
        const auto found = windows_.find(hash(samples.data() + k));
        if (found == windows_.end()) return;
        for (const std::size_t start : found->second) {
            std::size_t n = 0;
            while (k + n < samples.size() && start + n < block_.size() && samples[k + n] == block_[start + n]) ++n;
            if (n >= kMinMatch && n > length) {
                length = n;
                at = start;
            }
        }
    }

    bool startsMatch(const Bytes& samples, std::size_t k) const
    {
        std::size_t length = 0, at = 0;
        find(samples, k, length, at);
        return length != 0;
    }

    Bytes block_;
    std::size_t indexed_ = 0;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> windows_;
};

bool isDacWrite(const std::uint8_t* c) { return c[0] == kCmdYm2612Port0 && c[1] == kDacRegister; }

// The samples a wait command waits, 0 for any other command.
std::uint32_t waitSamples(const std::uint8_t* c)
{
    if (c[0] == 0x61) return getLe16(c + 1);
    if (c[0] == 0x62) return 735;
    if (c[0] == 0x63) return 882;
    if (isShortWait(c[0])) return shortWaitSamples(c[0]);
    return 0;
}

// Walks the commands from the header's end to the end-of-data command, calling
// `visit(position, length)` for each, while they frame; returns the position after
// the last one visited (the 0x66 included).
template <class Visit>
std::size_t walkCommands(const Bytes& vgm, std::size_t from, const OperandTable& operands, Visit visit)
{
    std::size_t i = from;
    while (i < vgm.size()) {
        const Frame frame = frameCommand(vgm.data(), i + 1, vgm.size(), operands);
        if (frame.status != FrameStatus::ok) break;
        const std::size_t length = 1 + frame.operands;
        visit(i, length);
        i += length;
        if (vgm[i - length] == kCmdEndOfData) break;
    }
    return i;
}

void appendWait(Bytes& out, std::uint64_t samples)
{
    while (samples > 0) {
        if (samples <= 16) {
            out.push_back(static_cast<std::uint8_t>(0x70 | (samples - 1)));
            return;
        }
        if (samples == 735 || samples == 882) {
            out.push_back(samples == 735 ? 0x62 : 0x63);
            return;
        }
        const auto n = static_cast<std::uint16_t>(std::min<std::uint64_t>(samples, 0xFFFF));
        out.insert(out.end(), {0x61, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
        samples -= n;
    }
}

void appendLe32(Bytes& out, std::uint32_t value)
{
    std::uint8_t b[4];
    setLe32(b, value);
    out.insert(out.end(), b, b + 4);
}

} // namespace

namespace {

// Where a song's commands start, where its loop comes back to (0: none) and how its
// commands are framed; false when the header does not fit in the image.
struct SongFrame {
    std::uint32_t headerSize = 0;
    std::size_t loopTarget = 0;
    const OperandTable* operands = nullptr;
};

bool songFrame(const Bytes& vgm, SongFrame& frame)
{
    if (vgm.size() < kMinHeaderSize) return false;
    frame.headerSize = computeHeaderSize(vgm);
    if (frame.headerSize > vgm.size()) return false;
    const std::uint32_t loop = getLe32(vgm, kLoopOffsetField);
    frame.loopTarget = loop == 0 ? 0 : std::size_t{loop} + kLoopOffsetField;
    frame.operands = &operandTable(getLe32(vgm, kVersionOffset) < kTwoByteReservedVersion);
    return true;
}

} // namespace

Bytes fitPcmRuns(const Bytes& vgm, FitReport& report)
{
    report = FitReport{};
    SongFrame frame;
    if (!songFrame(vgm, frame)) return vgm;
    const std::uint32_t headerSize = frame.headerSize;
    const std::size_t loopTarget = frame.loopTarget;
    const OperandTable& operands = *frame.operands;

    // The runs: PCM writes of one kind, with any other commands between them but a
    // seek (for 0x8n) or a data block; a run ends at the other kind and at the loop.
    std::vector<Run> runs;
    Run run;
    const auto close = [&]() {
        if (run.count >= kFitMinRun && run.lastTime > run.firstTime) runs.push_back(std::move(run));
        run = Run{};
    };
    std::uint64_t time = 0;
    std::uint32_t position = 0; // the data bank's read position
    const std::size_t end = walkCommands(vgm, headerSize, operands, [&](std::size_t at, std::size_t) {
        const std::uint8_t* c = vgm.data() + at;
        if (at == loopTarget) close();
        if (c[0] >= 0x90 && c[0] <= 0x95) report.streamsInUse = true;
        const bool pcm = isPcmWait(c[0]), direct = isDacWrite(c);
        if (pcm || direct) {
            if (run.count == 0 || run.direct != direct) {
                close();
                run.first = at;
                run.direct = direct;
                run.firstTime = time;
                run.offset = position;
            }
            run.last = at;
            run.lastTime = time;
            ++run.count;
            run.times.push_back(time);
            run.positions.push_back(at);
            if (direct) run.samples.push_back(c[2]);
        } else if (c[0] == 0xE0) {
            position = getLe32(c + 1);
            if (!run.direct) close();
        } else if (c[0] == kCmdDataBlock || c[0] == kCmdEndOfData) {
            close();
        }
        if (pcm) {
            ++position;
            time += c[0] & 0x0F;
        }
        time += waitSamples(c);
    });
    close();
    if (report.streamsInUse || runs.empty()) return vgm;

    // The direct writes' samples in one data block, each stretch of them kept once;
    // then pieces at constant rates.
    std::vector<Run> found, pieces;
    SampleBlock samples;
    for (Run& r : runs) {
        if (r.direct) {
            samples.split(r, found);
        } else {
            found.push_back(std::move(r));
        }
    }
    runs.clear();
    for (const Run& r : found) splitByTime(r, pieces);
    found.clear();
    runs = std::move(pieces);
    const Bytes& block = samples.bytes();
    const auto shift = static_cast<std::uint32_t>(block.size()); // the song's own data comes after it
    const auto shifted = [shift](std::uint32_t offset) {
        return offset > 0xFFFFFFFFu - shift ? offset : offset + shift; // beyond any bank stays beyond
    };

    Bytes out;
    out.reserve(vgm.size());
    appendBytes(out, vgm.data(), headerSize);
    if (!block.empty()) {
        out.insert(out.end(), {kCmdDataBlock, kCmdEndOfData, 0x00});
        appendLe32(out, shift);
        appendBytes(out, block.data(), block.size());
    }
    out.insert(out.end(), {0x90, kStream, 0x02, 0x00, kDacRegister, 0x91, kStream, 0x00, 0x01, 0x00});

    std::size_t next = 0;            // the next run
    const Run* inRun = nullptr;      // the run being replaced
    std::uint64_t pending = 0;       // samples waited since the last command written
    std::uint32_t frequency = 0;     // the stream's, once set
    bool seekDue = false;            // a stream has moved the read position since the last seek
    std::size_t loopOut = 0;
    // A command that stays: as it stands, but for a seek's offset past the new block.
    const auto keep = [&](const std::uint8_t* c, std::size_t length) {
        if (c[0] != 0xE0) {
            appendBytes(out, c, length);
            return;
        }
        out.push_back(0xE0);
        appendLe32(out, shifted(getLe32(c + 1)));
        seekDue = false;
    };
    position = 0;
    walkCommands(vgm, headerSize, operands, [&](std::size_t at, std::size_t length) {
        const std::uint8_t* c = vgm.data() + at;
        if (at == loopTarget) {
            loopOut = out.size();
            frequency = 0; // a repeat comes here from the song's end
        }
        if (inRun == nullptr && next < runs.size() && runs[next].first == at) {
            inRun = &runs[next++];
            const auto rate = static_cast<std::uint32_t>(std::clamp(inRun->hz + 0.5, 1.0, 4294967295.0));
            if (rate != frequency) {
                out.insert(out.end(), {0x92, kStream});
                appendLe32(out, rate);
                frequency = rate;
            }
            out.insert(out.end(), {0x93, kStream});
            appendLe32(out, inRun->direct ? inRun->offset : shifted(inRun->offset));
            out.push_back(0x01); // a length in samples
            appendLe32(out, inRun->count);
            if (!inRun->direct) seekDue = true;
        }
        const bool pcm = isPcmWait(c[0]);
        if (inRun != nullptr) {
            const bool taken = inRun->direct ? isDacWrite(c) : pcm;
            if (taken || waitSamples(c) > 0) {
                pending += waitSamples(c) + (pcm ? (c[0] & 0x0F) : 0);
            } else {
                appendWait(out, pending);
                pending = 0;
                keep(c, length);
            }
            if (at == inRun->last) {
                appendWait(out, pending);
                pending = 0;
                inRun = nullptr;
            }
        } else {
            if (pcm && seekDue) {
                out.push_back(0xE0);
                appendLe32(out, shifted(position));
                seekDue = false;
            }
            keep(c, length);
        }
        if (c[0] == 0xE0) position = getLe32(c + 1);
        if (pcm) ++position;
    });

    // The tail (normally the GD3 tag) as it stands; the header's offsets follow it.
    const std::uint32_t tailShift = static_cast<std::uint32_t>(out.size()) - static_cast<std::uint32_t>(end);
    appendBytes(out, vgm.data() + end, vgm.size() - end);
    setLe32(out, kEofOffsetField, static_cast<std::uint32_t>(out.size() - kEofOffsetField));
    const std::uint32_t gd3 = getLe32(vgm, kGd3OffsetField);
    if (gd3 != 0) setLe32(out, kGd3OffsetField, gd3 + tailShift);
    if (loopOut != 0) setLe32(out, kLoopOffsetField, static_cast<std::uint32_t>(loopOut - kLoopOffsetField));

    for (const Run& r : runs) {
        ++report.runs;
        report.samples += r.count;
    }
    report.blockBytes = shift;
    return out;
}

namespace {

// What the chips' registers hold as far as a walk through the song knows: a YM2612
// register per port, the SN76489's eight registers and its latch. -1 is unknown.
class ChipState {
public:
    ChipState() { forget(); }
    void forget()
    {
        ym_.fill(-1);
        snLow_.fill(-1);
        snHigh_.fill(-1);
        latch_ = -1;
    }
    // True when the write changes nothing and may go. Records it either way.
    bool ymUnchanged(unsigned port, std::uint8_t reg, std::uint8_t value)
    {
        int& held = ym_[port * 256 + reg];
        const bool same = held == value && !ymAlwaysKept(port, reg);
        held = value;
        return same;
    }
    bool snUnchanged(std::uint8_t byte)
    {
        const bool latchByte = (byte & 0x80) != 0;
        const int reg = latchByte ? (byte >> 4) & 0x07 : latch_;
        if (reg < 0) return false; // a data byte before any latch
        // A tone register's data byte sets its high six bits; every other byte sets
        // four low bits.
        const bool high = !latchByte && reg % 2 == 0 && reg != kSnNoise;
        int& part = high ? snHigh_[static_cast<std::size_t>(reg)] : snLow_[static_cast<std::size_t>(reg)];
        const int bits = high ? (byte & 0x3F) : (byte & 0x0F);
        const bool same = reg == latch_ && part == bits && reg != kSnNoise && !snStreamed_;
        part = bits;
        latch_ = reg;
        return same;
    }
    void keepYm(unsigned port, std::uint8_t reg) { streamed_[port * 256 + reg] = true; }
    void keepSn() { snStreamed_ = true; }

private:
    static constexpr int kSnNoise = 6; // channel 3's first register: the noise control
    bool ymAlwaysKept(unsigned port, std::uint8_t reg) const
    {
        if (streamed_[port * 256 + reg]) return true;
        if (port == 0 && (reg == 0x28 || reg == 0x2A || reg == 0x2B)) return true;
        return reg >= 0xA0 && reg <= 0xAF;
    }
    std::array<int, 512> ym_{};
    std::array<bool, 512> streamed_{};
    std::array<int, 8> snLow_{};
    std::array<int, 8> snHigh_{};
    int latch_ = -1;
    bool snStreamed_ = false;
};

} // namespace

Bytes dropUnchangedWrites(const Bytes& vgm, std::uint64_t& dropped)
{
    dropped = 0;
    SongFrame frame;
    if (!songFrame(vgm, frame)) return vgm;
    const std::uint32_t headerSize = frame.headerSize;
    const std::size_t loopTarget = frame.loopTarget;
    const OperandTable& operands = *frame.operands;

    // Registers a DAC stream writes are the stream's: their writes all stay.
    ChipState state;
    walkCommands(vgm, headerSize, operands, [&](std::size_t at, std::size_t) {
        const std::uint8_t* c = vgm.data() + at;
        if (c[0] != 0x90) return;
        if (c[2] == 0x00) state.keepSn();
        if (c[2] == 0x02) state.keepYm(c[3] & 1u, c[4]);
    });

    Bytes out;
    out.reserve(vgm.size());
    appendBytes(out, vgm.data(), headerSize);
    std::size_t loopOut = 0;
    const std::size_t end = walkCommands(vgm, headerSize, operands, [&](std::size_t at, std::size_t length) {
        const std::uint8_t* c = vgm.data() + at;
        if (at == loopTarget) {
            loopOut = out.size();
            state.forget();
        }
        const bool unchanged = (c[0] == 0x52 || c[0] == 0x53) ? state.ymUnchanged(c[0] - 0x52u, c[1], c[2])
                               : c[0] == 0x50                 ? state.snUnchanged(c[1])
                                                              : false;
        if (unchanged) {
            ++dropped;
        } else {
            appendBytes(out, c, length);
        }
    });
    if (dropped == 0) return vgm;

    const std::uint32_t tailShift = static_cast<std::uint32_t>(end - out.size());
    appendBytes(out, vgm.data() + end, vgm.size() - end);
    setLe32(out, kEofOffsetField, static_cast<std::uint32_t>(out.size() - kEofOffsetField));
    const std::uint32_t gd3 = getLe32(vgm, kGd3OffsetField);
    if (gd3 != 0) setLe32(out, kGd3OffsetField, gd3 - tailShift);
    if (loopOut != 0) setLe32(out, kLoopOffsetField, static_cast<std::uint32_t>(loopOut - kLoopOffsetField));
    return out;
}

} // namespace quorvel
