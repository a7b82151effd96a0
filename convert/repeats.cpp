// Stretches played again: the packed stream in; the same stream out with each
// stretch of whole commands that stands earlier already replaced by a REPLAY command.
#include "convert/repeats.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "convert/commands.h"
#include "convert/compact.h"

namespace quorvel {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Each command's place is found by its first kHashed commands; the latest
// kCandidates places with them are tried. Music repeats from a bar or a section back,
// past many a place that starts alike: fewer candidates miss those.
constexpr std::size_t kCandidates = 256;
constexpr std::uint32_t kHashed = 4;

struct Command {
    std::uint32_t at;     // in the packed stream
    std::uint32_t length;
};

// What the new stream holds: commands as they stand, or a REPLAY standing for the
// commands [first, first + count) by playing those from `target` on again.
struct Piece {
    std::uint32_t first;
    std::uint32_t count;
    std::uint32_t target; // kNone: the command as it stands
    unsigned depth;       // REPLAYs it reaches, one inside the other, itself included
    std::uint64_t calls;  // REPLAYs the player runs to play it
    std::uint64_t samples; // the song time it waits
};

// The samples command c waits.
std::uint32_t waitOf(const std::uint8_t* c)
{
    if (c[0] == 0x61) return getLe16(c + 1);
    if (c[0] == 0x62) return 735;
    if (c[0] == 0x63) return 882;
    if (isShortWait(c[0])) return shortWaitSamples(c[0]);
    if (isPcmWait(c[0])) return c[0] & 0x0Fu;
    return 0;
}

// Stretches start and end just before a wait of at least this many samples (or the
// end of data): their REPLAY and STRETCH_END commands then run after the writes of a
// moment, in the time the wait leaves (1300 cycles and more, over the 600 they take),
// and no write comes later for them.
constexpr std::uint32_t kBoundaryWait = 8;

bool matchable(std::uint8_t c)
{
    return c != kCmdDataBlock && c != kCmdEndOfData && c != kCmdBankEnd;
}


class Packer {
public:
    Packer(const Bytes& packed, std::vector<Command> commands, std::uint32_t loopIndex, const RepeatsLimits& limits)
        : packed_(packed), commands_(std::move(commands)), loop_(loopIndex), limits_(limits),
          pieceAt_(commands_.size() + 1, kNone), endsHere_(commands_.size() + 1, false)
    {
    }

    void run()
    {
        const auto n = static_cast<std::uint32_t>(commands_.size() - 1); // the last marks their end
        for (std::uint32_t i = 0; i < n;) {
            Match best;
            const std::uint64_t key = i + 1 < n ? hash(i) : 0;
            if (i + 1 < n && waitsBefore(i)) {
                const auto found = starts_.find(key);
                if (found != starts_.end()) {
                    const std::vector<std::uint32_t>& at = found->second;
                    const std::size_t from = at.size() > kCandidates ? at.size() - kCandidates : 0;
                    for (std::size_t k = at.size(); k-- > from;) {
                        const Match m = extend(i, at[k]);
                        if (m.saved > best.saved || (m.saved == best.saved && m.depth < best.depth)) best = m;
                    }
                }
            }
            const auto piece = static_cast<std::uint32_t>(pieces_.size());
            pieceAt_[i] = piece;
            if (best.saved >= static_cast<std::int64_t>(limits_.minSaved)) {
                pieces_.push_back({i, best.count, best.target, best.depth, best.calls, best.samples});
                endsHere_[best.target + best.count] = true;
            } else {
                pieces_.push_back({i, 1, kNone, 0, 0, waitOf(bytes(i))});
            }
            if (i + 1 < n) starts_[key].push_back(i);
            i += pieces_.back().count;
        }
        pieceAt_[n] = static_cast<std::uint32_t>(pieces_.size());
    }

    const std::vector<Piece>& pieces() const { return pieces_; }
    bool endsHere(std::uint32_t command) const { return endsHere_[command]; }
    std::uint32_t pieceAt(std::uint32_t command) const { return pieceAt_[command]; }

private:
    struct Match {
        std::int64_t saved = 0;
        std::uint32_t count = 0;
        std::uint32_t target = kNone;
        unsigned depth = 0;
        std::uint64_t calls = 0;
        std::uint64_t samples = 0;
    };

    std::uint64_t hash(std::uint32_t i) const
    {
        const std::uint8_t* p = packed_.data() + commands_[i].at;
        std::uint32_t size = 0;
        for (std::uint32_t k = 0; k < kHashed && i + k < commands_.size(); ++k) size += commands_[i + k].length;
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint32_t k = 0; k < size; ++k) h = (h ^ p[k]) * 1099511628211ull;
        return h;
    }

    // True when a stretch may start or end before command c.
    bool waitsBefore(std::uint32_t c) const
    {
        if (c + 1 >= commands_.size()) return true;
        const std::uint8_t* command = bytes(c);
        return command[0] == kCmdEndOfData || waitOf(command) >= kBoundaryWait;
    }

    // The commands [from, from + count) as bytes of the packed stream.
    const std::uint8_t* bytes(std::uint32_t from) const { return packed_.data() + commands_[from].at; }
    std::uint32_t span(std::uint32_t from, std::uint32_t count) const
    {
        const Command& last = commands_[from + count - 1];
        return last.at + last.length - commands_[from].at;
    }

    // The longest-saving stretch of whole pieces from command j that the commands
    // from i repeat.
    Match extend(std::uint32_t i, std::uint32_t j) const
    {
        Match best;
        const auto n = static_cast<std::uint32_t>(commands_.size() - 1);
        const std::uint32_t limit = loop_ > i && loop_ < n ? loop_ : n; // never across the loop point
        std::uint32_t covered = 0, pieces = 0;
        std::int64_t literal = 0;
        unsigned depth = 0;
        std::uint64_t calls = 1, samples = 0; // this REPLAY's own call included
        for (std::uint32_t p = pieceAt_[j]; p < pieces_.size() && pieces < kMaxStretchCommands; ++p, ++pieces) {
            const Piece& q = pieces_[p];
            if (q.target == kNone && !matchable(packed_[commands_[q.first].at])) break;
            if (q.depth + 1 > limits_.depth) break;
            const std::uint32_t from = i + covered;
            if (from + q.count > limit) break;
            const std::uint32_t size = span(q.first, q.count);
            if (span(from, q.count) != size || std::memcmp(bytes(from), bytes(q.first), size) != 0) break;
            covered += q.count;
            literal += size;
            depth = std::max(depth, q.depth + 1);
            calls += q.calls;
            samples += q.samples;
            if (!waitsBefore(i + covered) || !waitsBefore(j + covered)) continue;
            if (calls * limits_.samplesPerReplay > samples) continue; // more than the player has time for
            const std::int64_t saved =
                literal - static_cast<std::int64_t>(kReplayLength) - (endsHere_[j + covered] ? 0 : 1);
            if (saved > best.saved) best = {saved, covered, j, depth, calls, samples};
        }
        return best;
    }

    const Bytes& packed_;
    std::vector<Command> commands_;
    std::uint32_t loop_;
    RepeatsLimits limits_;
    std::vector<Piece> pieces_;
    std::vector<std::uint32_t> pieceAt_;
    std::vector<bool> endsHere_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> starts_;
};

} // namespace

void packRepeats(ConversionJob& job, RepeatsReport& report, const RepeatsLimits& limits)
{
    report = RepeatsReport{};
    const Bytes& packed = job.packedStream;
    const OperandTable& operands = operandTable(job.shortReservedWrites);

    // The commands up to the end of data; REPLAY and STRETCH_END of the song's own
    // left out.
    std::vector<Command> commands;
    std::uint32_t loopIndex = kNone;
    std::uint32_t k = job.headerSize, end = 0;
    while (end == 0) {
        if (k >= job.packedLength) return;
        const Frame frame = frameCommand(packed.data(), k + 1, job.packedLength, operands);
        if (frame.status != FrameStatus::ok) return;
        const auto length = static_cast<std::uint32_t>(1 + frame.operands);
        if (k == job.loopMark) loopIndex = static_cast<std::uint32_t>(commands.size());
        if (packed[k] != kCmdReplay && packed[k] != kCmdStretchEnd) commands.push_back({k, length});
        if (packed[k] == kCmdEndOfData) end = k + length;
        k += length;
    }
    const auto n = static_cast<std::uint32_t>(commands.size());
    commands.push_back({end, 0}); // where the commands end

    Packer packer(packed, commands, loopIndex, limits);
    packer.run();
    const std::vector<Piece>& pieces = packer.pieces();
    if (pieces.size() == n) return; // nothing repeats

    // Where each piece stands in the new stream, its STRETCH_END (if any) before it;
    // each REPLAY counts the STRETCH_ENDs after its stretch's first piece up to the
    // one after its last.
    std::vector<std::uint32_t> endsBefore(n + 1, 0); // STRETCH_ENDs before command c's piece
    for (std::uint32_t c = 0, ends = 0; c <= n; ++c) {
        endsBefore[c] = ends;
        if (packer.endsHere(c)) ++ends;
    }
    Bytes out;
    out.reserve(job.packedLength);
    appendBytes(out, packed.data(), job.headerSize);
    out[kVersionOffset] = kRepeatsMark;
    std::vector<std::uint32_t> pieceOut(pieces.size());
    std::uint32_t newLoop = job.loopMark;
    job.replays.clear();
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const Piece& q = pieces[p];
        if (packer.endsHere(q.first)) {
            out.push_back(kCmdStretchEnd);
            ++report.stretchEnds;
        }
        pieceOut[p] = static_cast<std::uint32_t>(out.size());
        if (q.first == loopIndex) newLoop = pieceOut[p];
        if (q.target == kNone) {
            appendBytes(out, packed.data() + commands[q.first].at, commands[q.first].length);
            continue;
        }
        const std::uint32_t count = endsBefore[q.target + q.count] + 1 - endsBefore[q.target + 1];
        job.replays.push_back({static_cast<std::uint32_t>(out.size()), pieceOut[packer.pieceAt(q.target)]});
        out.insert(out.end(), {kCmdReplay, 0x00, 0x00, static_cast<std::uint8_t>((count >> 8) << 4),
                               static_cast<std::uint8_t>(count)});
        ++report.replays;
    }
    appendBytes(out, packed.data() + end, job.packedLength - end); // the tail as it stands
    report.before = job.packedLength - job.headerSize;
    report.after = out.size() - job.headerSize;
    job.loopMark = newLoop;
    job.packedLength = static_cast<std::uint32_t>(out.size());
    job.packedStream = std::move(out);
}

} // namespace quorvel
