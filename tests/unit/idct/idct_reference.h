// Double-precision 8x8 DCT and inverse DCT as defined by ISO/IEC 13818-2 Annex A, used as the
// reference of the inverse DCT tests.
#pragma once

#include <cmath>

namespace d2u {
namespace test {

struct DctBasisTable {
    double value[8][8];  // [sample][frequency]
    DctBasisTable() {
        const double pi = 3.14159265358979323846;
        for (int x = 0; x < 8; ++x) {
            for (int u = 0; u < 8; ++u) {
                double scale = u == 0 ? std::sqrt(0.125) : 0.5;
                value[x][u] = scale * std::cos((2 * x + 1) * u * pi / 16.0);
            }
        }
    }
};

inline double DctBasis(int sample, int frequency) {
    static const DctBasisTable table;
    return table.value[sample][frequency];
}

// out[v][u] = sum over y, x of in[y][x] * basis(y, v) * basis(x, u).
inline void ForwardDct(const double in[8][8], double out[8][8]) {
    double rows[8][8];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int x = 0; x < 8; ++x) sum += in[y][x] * DctBasis(x, u);
            rows[y][u] = sum;
        }
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y) sum += rows[y][u] * DctBasis(y, v);
            out[v][u] = sum;
        }
    }
}

inline void InverseDct(const double in[8][8], double out[8][8]) {
    double rows[8][8];
    for (int v = 0; v < 8; ++v) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int u = 0; u < 8; ++u) sum += in[v][u] * DctBasis(x, u);
            rows[v][x] = sum;
        }
    }
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int v = 0; v < 8; ++v) sum += rows[v][x] * DctBasis(y, v);
            out[y][x] = sum;
        }
    }
}

}  // namespace test
}  // namespace d2u
