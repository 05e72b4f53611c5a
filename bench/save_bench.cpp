// Encoding a 640x480 picture as the host program saves it: PNG (deflate) and
// JPEG (quality 90) through stb_image_write, BMP and PPM as they are.
#include <benchmark/benchmark.h>

#include "ImageFile.h"
#include "vorksim/cameras.h"

namespace {

RgbImage Pattern(int width, int height) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &image.rgb[(static_cast<size_t>(y) * width + x) * 3];
            vorksim::PatternColor(x, y, width, height, p[0], p[1], p[2]);
        }
    return image;
}

void Encoding(benchmark::State& state, ImageKind kind) {
    const RgbImage image = Pattern(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> file = Encode(image, kind);
        bytes = file.size();
        benchmark::DoNotOptimize(file.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["file_bytes"] = static_cast<double>(bytes);
}
void Png(benchmark::State& state) { Encoding(state, ImageKind::Png); }
void Jpeg(benchmark::State& state) { Encoding(state, ImageKind::Jpeg); }
void Bmp(benchmark::State& state) { Encoding(state, ImageKind::Bmp); }

}  // namespace

BENCHMARK(Png)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(Jpeg)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(Bmp)->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
