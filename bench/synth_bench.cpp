// The per-frame path: synthesis, encoding and the block buffer, written to
// /dev/null so that the kernel's share is as small as it gets.
#include "output.h"
#include "settings.h"
#include "synth.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int32_t tone_ms = 1000;

// args: bits, left, right, table size
void BM_Tone(benchmark::State& state) {
    output::reset_output();
    synth::reset_synth();
    cli::settings = cli::Settings{};
    cli::settings.speed = 48000;
    cli::settings.bufsize = 65536;
    cli::settings.bits = static_cast<int32_t>(state.range(0));
    cli::settings.left = static_cast<int32_t>(state.range(1));
    cli::settings.right = static_cast<int32_t>(state.range(2));
    cli::settings.table_size = static_cast<int32_t>(state.range(3));
    cli::settings.use_audio = 0;
    cli::settings.output_dev = "/dev/null";
    output::sample_format = cli::settings.bits;
    if (!output::open_output() || !synth::build_costab() || !output::alloc_buf()) {
        state.SkipWithError("start-up failed");
        return;
    }
    for (auto _ : state) {
        if (!synth::play_tone(941, 1633, tone_ms)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    const double frames = tone_ms * cli::settings.speed / 1000.0;
    state.counters["per_frame"] = benchmark::Counter(
        frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames));
    output::reset_output();
}

void layouts(benchmark::internal::Benchmark* b) {
    b->ArgNames({"bits", "left", "right", "table"});
    for (int64_t table : {256, 65536})
        for (int64_t bits : {8, 16})
            for (auto [l, r] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
                b->Args({bits, l, r, table});
}

BENCHMARK(BM_Tone)->Apply(layouts);

} // namespace

BENCHMARK_MAIN();
