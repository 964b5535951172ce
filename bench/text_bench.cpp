// The whole path from a decoded text buffer to the filled avatar list, on
// generated chat texts, and the literal extraction (list walk, unread rest
// copied on every call) on the same texts for comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/text/literal_avatar_list.h"
#include "tests/text/vector_sink.h"
#include "text/avatar_list.h"

namespace {

using quib::text::test::VectorSink;

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// A chat text of `lines` lines of about 40 characters, in which `speakers`
// distinct names speak (each one at least once when lines >= speakers), in
// varying letter case, with ESP prefixes, "<system>" lines and lines without
// a speaker mixed in. Lines are separated by CR LF; there is no blank line.
std::u16string ChatText(int64_t lines, int64_t speakers) {
    static const char* const kSyllables[] = {"ka", "lo", "mi", "ne", "ru", "shi", "ta", "vo"};
    static const char* const kWords[] = {"hello",  "there", "how", "are",   "you",     "fine",
                                         "thanks", "see",   "the", "world", "tonight", "ok"};
    std::mt19937 rng(12345);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

    std::vector<std::string> names;
    for (int64_t i = 0; i < speakers; ++i) {
        std::string name = kSyllables[i % 8];
        name += kSyllables[(i / 8) % 8];
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        names.push_back(name + std::to_string(i));
    }

    std::string text;
    text.reserve(static_cast<size_t>(lines) * 42);
    for (int64_t i = 0; i < lines; ++i) {
        if (i > 0) {
            text += "\r\n";
        }
        const size_t start = text.size();
        const int kind = below(100);
        if (kind < 3) {
            text += "<system>: ";
        } else if (kind < 5) {
            text += "You sense a disturbance";
        } else {
            if (kind < 15) {
                text += "ESP to ";
            } else if (kind < 20) {
                text += "ESP from ";
            }
            // Every name once in order first, then at random.
            std::string name = names[i < speakers ? i : below(static_cast<int>(speakers))];
            if (below(5) == 0) {
                for (char& c : name) {
                    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
                }
            }
            text += name + ": ";
        }
        while (text.size() - start < 40) {
            text += kWords[below(12)];
            text += ' ';
        }
    }
    return Widen(text);
}

void Report(benchmark::State& state, const std::u16string& text, int64_t lines) {
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size() * 2));
    state.counters["lines"] = static_cast<double>(lines);
    // Seconds per line, printed as e.g. "65n" (nanoseconds).
    state.counters["per_line"] = benchmark::Counter(
        static_cast<double>(lines),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetComplexityN(lines);
}

// The program's path: the buffer is read in place, cut into lines and turned
// into the list.
void Fill(benchmark::State& state) {
    const int64_t lines = state.range(0);
    const std::u16string text = ChatText(lines, state.range(1));
    quib::text::LineTokenizer tokenizer;
    VectorSink list;
    for (auto _ : state) {
        quib::text::FillAvatarList(tokenizer, list, text);
        benchmark::DoNotOptimize(list.entries.data());
    }
    state.counters["entries"] = static_cast<double>(list.entries.size());
    Report(state, text, lines);
}

void Literal(benchmark::State& state) {
    const int64_t lines = state.range(0);
    const std::u16string text = ChatText(lines, state.range(1));
    quib::text::literal::Tokenizer tokenizer;
    VectorSink list;
    for (auto _ : state) {
        quib::text::literal::FillAvatarList(tokenizer, list, text);
        benchmark::DoNotOptimize(list.entries.data());
    }
    state.counters["entries"] = static_cast<double>(list.entries.size());
    Report(state, text, lines);
}

// Sizes: the three buffers of the goal, and series over the number of lines
// at a fixed number of speakers for the growth of the cost.
void FillSizes(benchmark::internal::Benchmark* b) {
    b->Args({1000000, 1000})->Args({1000000, 30000})->Args({100000, 100});
}
void Series(benchmark::internal::Benchmark* b, int64_t speakers) {
    for (int64_t lines : {15625, 31250, 62500, 125000, 250000, 500000, 1000000, 2000000}) {
        b->Args({lines, speakers});
    }
}

BENCHMARK(Fill)->Name("Fill")->Apply(FillSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(Fill)
    ->Name("FillSeries100")
    ->Apply([](auto* b) { Series(b, 100); }) -> Complexity(benchmark::oN)
        -> Unit(benchmark::kMillisecond);
BENCHMARK(Fill)
    ->Name("FillSeries1000")
    ->Apply([](auto* b) { Series(b, 1000); }) -> Complexity(benchmark::oN)
        -> Unit(benchmark::kMillisecond);
BENCHMARK(Fill)
    ->Name("FillSeries30000")
    ->Apply([](auto* b) { Series(b, 30000); }) -> Complexity(benchmark::oN)
        -> Unit(benchmark::kMillisecond);

// The literal extraction is quadratic: one run per size, the sizes that
// bench/run.sh tries in turn until one takes too long.
BENCHMARK(Literal)
    ->Name("Literal")
    ->ArgsProduct({{15625, 31250, 62500, 125000, 250000}, {100, 1000, 30000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
