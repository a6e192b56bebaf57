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

// One 8-point forward transform, out[k] = sum over n of in[n * stride] * basis(n, k), using
// the symmetry of the basis (samples n and 7 - n) to halve the work.
inline void Forward8(const double* in, int stride, double* out) {
    double sums[4];
    double differences[4];
    for (int n = 0; n < 4; ++n) {
        sums[n] = in[n * stride] + in[(7 - n) * stride];
        differences[n] = in[n * stride] - in[(7 - n) * stride];
    }
    for (int k = 0; k < 8; ++k) {
        const double* half = k % 2 == 0 ? sums : differences;
        double sum = 0;
        for (int n = 0; n < 4; ++n) sum += half[n] * DctBasis(n, k);
        out[k] = sum;
    }
}

// One 8-point inverse transform, out[n * stride] = sum over k of in[k] * basis(n, k).
inline void Inverse8(const double* in, double* out, int stride) {
    for (int n = 0; n < 4; ++n) {
        double even = 0;
        double odd = 0;
        for (int k = 0; k < 8; k += 2) even += in[k] * DctBasis(n, k);
        for (int k = 1; k < 8; k += 2) odd += in[k] * DctBasis(n, k);
        out[n * stride] = even + odd;
        out[(7 - n) * stride] = even - odd;
    }
}

// out[v][u] = sum over y, x of in[y][x] * basis(y, v) * basis(x, u).
inline void ForwardDct(const double in[8][8], double out[8][8]) {
    double rows[8][8];
    for (int y = 0; y < 8; ++y) Forward8(in[y], 1, rows[y]);
    for (int u = 0; u < 8; ++u) {
        double column[8];
        Forward8(&rows[0][u], 8, column);
        for (int v = 0; v < 8; ++v) out[v][u] = column[v];
    }
}

inline void InverseDct(const double in[8][8], double out[8][8]) {
    double rows[8][8];
    for (int v = 0; v < 8; ++v) Inverse8(in[v], rows[v], 1);
    for (int x = 0; x < 8; ++x) {
        double column[8];
        for (int v = 0; v < 8; ++v) column[v] = rows[v][x];
        Inverse8(column, &out[0][x], 8);
    }
}

}  // namespace test
}  // namespace d2u
