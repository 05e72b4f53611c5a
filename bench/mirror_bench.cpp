// The mirror functions against memcpy of the same image, reported as ratios of
// their bandwidth to memcpy's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Mirror.h"

namespace {

struct Size {
    unsigned width;
    unsigned height;
};
const Size kSizes[] = {{640, 480}, {1920, 1080}};

std::string Label(const Size& s, unsigned bpp) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + "x" + std::to_string(bpp);
}

template <class Body>
void Run(benchmark::State& state, unsigned w, unsigned h, unsigned bpp, Body body) {
    const size_t bytes = static_cast<size_t>(w) * h * bpp;
    std::vector<BYTE> image(bytes, 7);
    std::vector<BYTE> other(bytes, 9);
    for (auto _ : state) {
        body(image.data(), other.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// Collects the bandwidths and prints mirror / memcpy for each size at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The median of the repetitions, which a busy neighbour disturbs least.
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") continue;
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rates_[r.run_name.str()] = it->second;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nbandwidth as a share of memcpy (kernels: %s)\n", VORKMirrorImplementation());
        std::printf("%-16s %10s %10s\n", "image", "vertical", "horizontal");
        for (const Size& s : kSizes) {
            for (unsigned bpp = 1; bpp <= 4; ++bpp) {
                const std::string l = Label(s, bpp);
                const double copy = rates_["memcpy/" + l];
                std::printf("%-16s %9.0f%% %9.0f%%\n", l.c_str(), 100.0 * rates_["vertical/" + l] / copy,
                            100.0 * rates_["horizontal/" + l] / copy);
            }
        }
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const Size& s : kSizes) {
        for (unsigned bpp = 1; bpp <= 4; ++bpp) {
            const std::string l = Label(s, bpp);
            const unsigned w = s.width, h = s.height;
            benchmark::RegisterBenchmark(("memcpy/" + l).c_str(), [=](benchmark::State& st) {
                Run(st, w, h, bpp, [](BYTE* a, BYTE* b, size_t n) { std::memcpy(a, b, n); });
            });
            benchmark::RegisterBenchmark(("vertical/" + l).c_str(), [=](benchmark::State& st) {
                Run(st, w, h, bpp, [=](BYTE* a, BYTE*, size_t) { MirrorImageVertical(a, w, h, bpp); });
            });
            benchmark::RegisterBenchmark(("horizontal/" + l).c_str(), [=](benchmark::State& st) {
                Run(st, w, h, bpp, [=](BYTE* a, BYTE*, size_t) { MirrorImageHorizontal(a, w, h, bpp); });
            });
        }
    }
    // Five repetitions each unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions.data(), aggregates.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
