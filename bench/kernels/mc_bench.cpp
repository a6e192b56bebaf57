// The eight motion-compensation kernels (16x16, 16x8, 8x8, 8x4; forward or backward, and
// bidirectional) at each half-sample position, on blocks spread over an SD picture. Reports
// predicted pixels per second.
#include <random>

#include "kernel_bench_support.h"
#include "primitives/motion_compensation.h"

namespace d2u {
namespace bench {
namespace {

constexpr int kPlaneWidth = 768;  // 720 plus the margin a padded reference keeps
constexpr int kPlaneHeight = 640;
constexpr int kBlocks = 1024;

struct Shape {
    const char* name;
    int width;
    int height;
    mc::BlockShape index;
};

const Shape kShapes[] = {{"16x16", 16, 16, mc::k16x16},
                         {"16x8", 16, 8, mc::k16x8},
                         {"8x8", 8, 8, mc::k8x8},
                         {"8x4", 8, 4, mc::k8x4}};

struct Mode {
    const char* name;
    Ipp32s value;
};

const Mode kModes[] = {{"ff", IPPVC_MC_APX_FF},
                       {"fh", IPPVC_MC_APX_FH},
                       {"hf", IPPVC_MC_APX_HF},
                       {"hh", IPPVC_MC_APX_HH}};

struct Pictures {
    std::vector<Ipp8u> forward = RandomBytes(kPlaneWidth * kPlaneHeight, 41);
    std::vector<Ipp8u> backward = RandomBytes(kPlaneWidth * kPlaneHeight, 42);
    std::vector<Ipp8u> output = std::vector<Ipp8u>(kPlaneWidth * kPlaneHeight);
    std::vector<Ipp16s> residual = RandomSamples(16 * 16, -40, 40, 43);
    std::vector<int> references;  // offsets of the reference blocks
    std::vector<int> targets;     // offsets of the predicted blocks

    explicit Pictures(const Shape& shape) {
        std::mt19937 random(44);
        std::uniform_int_distribution<int> x(0, kPlaneWidth - shape.width - 1);
        std::uniform_int_distribution<int> y(0, kPlaneHeight - shape.height - 1);
        for (int i = 0; i < kBlocks; ++i) {
            references.push_back(y(random) * kPlaneWidth + x(random));
            targets.push_back((y(random) & ~7) * kPlaneWidth + (x(random) & ~7));
        }
    }
};

void PredictSingle(benchmark::State& state, const Shape& shape, Ipp32s mode) {
    Pictures pictures(shape);
    const mc::SingleKernel single = mc::InstalledKernels().single[shape.index];
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            single(&pictures.forward[pictures.references[i]], kPlaneWidth, pictures.residual.data(),
                   16 * sizeof(Ipp16s), &pictures.output[pictures.targets[i]], kPlaneWidth, mode);
        }
        benchmark::ClobberMemory();
    }
    ReportItems(state, static_cast<int64_t>(kBlocks) * shape.width * shape.height, "pixels");
}

// Without a residual: the compensator's form for macroblocks without coded blocks.
void PredictBidirectional(benchmark::State& state, const Shape& shape, Ipp32s mode,
                          bool withResidual) {
    Pictures pictures(shape);
    const mc::BidirectionalKernel bidirectional = mc::InstalledKernels().bidirectional[shape.index];
    const Ipp16s* residual = withResidual ? pictures.residual.data() : nullptr;
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) {
            bidirectional(&pictures.forward[pictures.references[i]], kPlaneWidth, mode,
                          &pictures.backward[pictures.references[kBlocks - 1 - i]], kPlaneWidth,
                          mode, residual, 16 * sizeof(Ipp16s),
                          &pictures.output[pictures.targets[i]], kPlaneWidth);
        }
        benchmark::ClobberMemory();
    }
    ReportItems(state, static_cast<int64_t>(kBlocks) * shape.width * shape.height, "pixels");
}

const bool registered = [] {
    for (const Shape& shape : kShapes) {
        for (const Mode& mode : kModes) {
            std::string suffix = std::string(shape.name) + "_" + mode.name;
            const Shape* s = &shape;
            Ipp32s m = mode.value;
            RegisterAtEveryLevel("mc/single_" + suffix,
                                 [s, m](benchmark::State& state) { PredictSingle(state, *s, m); });
            RegisterAtEveryLevel("mc/bidirectional_" + suffix, [s, m](benchmark::State& state) {
                PredictBidirectional(state, *s, m, true);
            });
        }
    }
    for (const Shape* s : {&kShapes[0], &kShapes[2]}) {
        RegisterAtEveryLevel(std::string("mc/bidirectional_no_residual_") + s->name + "_hh",
                             [s](benchmark::State& state) {
                                 PredictBidirectional(state, *s, IPPVC_MC_APX_HH, false);
                             });
    }
    return true;
}();

}  // namespace
}  // namespace bench
}  // namespace d2u
