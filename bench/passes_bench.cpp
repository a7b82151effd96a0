// Micro-benchmarks of the two passes: a generated dense command stream in, bytes per
// second of compaction and of bank layout out.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "convert/compact.h"
#include "convert/layout.h"
#include "tools/vgm_builder.h"

namespace {

using quorvel::Bytes;

// About `size` bytes of PSG and YM2612 writes, short waits and PCM write-and-waits.
Bytes denseStream(std::size_t size)
{
    quorvel::VgmBuilder v;
    std::uint32_t seed = 99;
    while (v.size() < size) {
        seed = seed * 1664525u + 1013904223u;
        const std::uint8_t r = static_cast<std::uint8_t>(seed >> 24);
        switch (r % 6) {
        case 0: v.commands({0x50, r}); break;
        case 1: v.commands({0x52, static_cast<std::uint8_t>(0x30 + r % 0x80), r}); break;
        case 2: v.commands({0x52, 0x26, r}); break;
        case 3: v.commands({static_cast<std::uint8_t>(0x70 | (r & 7))}); break;
        case 4: v.commands({static_cast<std::uint8_t>(0x80 | (r & 7)), 0x72}); break;
        default: v.commands({0x61, r, 0x00}); break;
        }
    }
    return v.finish();
}

void prepare(quorvel::ConversionJob& job, const Bytes& input, std::FILE* console)
{
    job.console = console;
    job.inputImage = input;
    job.inputLength = static_cast<std::uint32_t>(input.size());
    quorvel::prepareHeader(job);
}

// Times one pass; the stages before it run untimed on every iteration.
template <bool Layout>
void Pass(benchmark::State& state)
{
    const Bytes input = denseStream(static_cast<std::size_t>(state.range(0)));
    std::FILE* console = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        state.PauseTiming();
        quorvel::ConversionJob job;
        prepare(job, input, console);
        if (Layout) quorvel::compactCommands(job);
        state.ResumeTiming();
        if (Layout) {
            quorvel::layoutBanks(job);
        } else {
            quorvel::compactCommands(job);
        }
        benchmark::DoNotOptimize(job.packedStream.data());
        benchmark::DoNotOptimize(job.bankImage.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    std::fclose(console);
}

void Compaction(benchmark::State& state) { Pass<false>(state); }
void BankLayout(benchmark::State& state) { Pass<true>(state); }

BENCHMARK(Compaction)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BankLayout)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
