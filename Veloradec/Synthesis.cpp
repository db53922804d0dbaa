#include "Synthesis.h"

#include <cmath>

#include "SynthesisWindow.h"

namespace velora {
namespace {

struct MatrixTables {
    // [shift][i][k] = cos((N/2 + i)(2k + 1) pi / 2N), N = 32 >> shift, i < 2N, k < N.
    float matrix[3][64][32];
};

MatrixTables MakeMatrix() {
    MatrixTables t{};
    for (int shift = 0; shift < 3; ++shift) {
        const int n = 32 >> shift;
        for (int i = 0; i < 2 * n; ++i) {
            for (int k = 0; k < n; ++k) {
                t.matrix[shift][i][k] =
                    static_cast<float>(std::cos((n / 2 + i) * (2 * k + 1) * M_PI / (2.0 * n)));
            }
        }
    }
    return t;
}

const MatrixTables kMatrix = MakeMatrix();

}  // namespace

void Synthesis::Reset() {
    for (auto& block : history_) {
        for (float& v : block) v = 0.0f;
    }
    newest_ = 0;
}

void Synthesis::Run(const float subbands[32], int shift, float* out, int stride) {
    const int n = 32 >> shift;
    newest_ = (newest_ + 15) & 15;
    float* v = history_[newest_];
    for (int i = 0; i < 2 * n; ++i) {
        const float* row = kMatrix.matrix[shift][i];
        float sum = 0.0f;
        for (int k = 0; k < n; ++k) sum += row[k] * subbands[k];
        v[i] = sum;
    }
    for (int j = 0; j < n; ++j) {
        float sum = 0.0f;
        for (int i = 0; i < 8; ++i) {
            const float* even = history_[(newest_ + 2 * i) & 15];
            const float* odd = history_[(newest_ + 2 * i + 1) & 15];
            sum += even[j] * kSynthesisWindow[(2 * n * i + j) << shift];
            sum += odd[n + j] * kSynthesisWindow[(2 * n * i + n + j) << shift];
        }
        out[j * stride] = sum;
    }
}

}  // namespace velora
