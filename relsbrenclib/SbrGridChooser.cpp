#include "SbrGridChooser.h"

namespace velora::sbr {
namespace {

// A step the relative-border fields can code: 2, 4, 6 or 8 slots.
bool IsRelativeStep(int step) { return step >= 2 && step <= 8 && (step & 1) == 0; }

// The FIXFIX grids of a 9-slot frame, as the parser builds them.
void Fixed(int envelopes, SbrFrameInfo& g) {
    static constexpr int kBorders[3][5] = {{0, 9}, {0, 5, 9}, {0, 2, 5, 7, 9}};
    const int row = envelopes >= 4 ? 2 : (envelopes == 2 ? 1 : 0);
    g = SbrFrameInfo{};
    g.frameClass = 0;
    g.envelopes = row == 2 ? 4 : row + 1;
    for (int i = 0; i <= g.envelopes; ++i) g.borders[i] = kBorders[row][i];
    for (int i = 0; i < g.envelopes; ++i) g.freqRes[i] = 1;
    g.pointer = 0;
    g.noiseEnvelopes = g.envelopes > 1 ? 2 : 1;
    g.noiseBorders[0] = 0;
    g.noiseBorders[1] = g.envelopes > 1 ? 5 : kFrameSlots;
    g.noiseBorders[2] = kFrameSlots;
}

// True when steps [first, end) of the borders are all relative steps.
bool Relative(const int* b, int first, int end) {
    for (int i = first; i < end; ++i)
        if (!IsRelativeStep(b[i + 1] - b[i])) return false;
    return true;
}

// Codes borders b[0..n] with stored pointer `pointer` in the first class that can: FIXVAR
// (first border 0, a free first envelope, relative steps back from the end), VARFIX (last
// border 9, relative steps from the start, a free last envelope), VARVAR (relative steps
// from both ends around one free envelope). False when none can.
bool Classify(const int* b, int n, int pointer, SbrFrameInfo& g) {
    if (n < 1 || n > kMaxEnvelopes) return false;
    const int start = b[0];
    const int end = b[n];
    if (start < 0 || start > 7 || end < kFrameSlots || end > kMaxLastBorder || start >= end) return false;
    if (pointer < 0 || pointer > n) return false;
    int frameClass = -1;
    if (start == 0 && Relative(b, 1, n)) {
        frameClass = 1;
    } else if (end == kFrameSlots && pointer < n && Relative(b, 0, n - 1)) {
        frameClass = 2;
    } else {
        for (int lead = 0; lead <= 3 && lead < n; ++lead) {
            const int trail = n - 1 - lead;
            if (trail <= 3 && Relative(b, 0, lead) && Relative(b, lead + 1, n)) {
                frameClass = 3;
                break;
            }
        }
    }
    if (frameClass < 0) return false;
    g = SbrFrameInfo{};
    g.frameClass = frameClass;
    g.envelopes = n;
    for (int i = 0; i <= n; ++i) g.borders[i] = b[i];
    for (int i = 0; i < n; ++i) g.freqRes[i] = 1;
    g.pointer = pointer;
    SetNoiseBorders(g);
    return true;
}

}  // namespace

void SetNoiseBorders(SbrFrameInfo& g) {
    const int n = g.envelopes;
    g.noiseBorders[0] = g.borders[0];
    if (n == 1) {
        g.noiseEnvelopes = 1;
        g.noiseBorders[1] = g.borders[1];
        return;
    }
    g.noiseEnvelopes = 2;
    int middle = g.borders[n - 1];
    // A pointer inside the frame splits the noise floors at the transient envelope.
    if (g.pointer > 0 && g.pointer < n) middle = g.borders[g.pointer];
    if (g.frameClass == 2 && g.pointer == 0) middle = g.borders[1];
    g.noiseBorders[1] = middle;
    g.noiseBorders[2] = g.borders[n];
}

void ChooseGrid(const GridRequest& r, SbrFrameInfo& grid) {
    const int start = r.start < 0 ? 0 : (r.start > 3 ? 3 : r.start);
    int b[kMaxEnvelopes + 1];
    int n = 0;
    int pointer = 0;
    const int t = r.transient;
    if (t >= start && t < kFrameSlots) {
        // A short envelope of two slots at the transient. When the step before it and the
        // one after it are both odd, the frame runs on by a slot so that one of them
        // becomes relative; a transient in the last slot reaches into the next frame.
        b[n++] = start;
        if (t > start) {
            pointer = n;  // the envelope that starts at the transient
            b[n++] = t;
        }
        const int after = t + 2;
        if (after >= kFrameSlots) {
            b[n++] = after;
        } else {
            b[n++] = after;
            const bool oddBefore = t > start && !IsRelativeStep(t - start);
            const bool oddAfter = !IsRelativeStep(kFrameSlots - after);
            b[n++] = oddBefore && oddAfter ? kFrameSlots + 1 : kFrameSlots;
        }
        if (Classify(b, n - 1, pointer, grid)) return;
    } else if (t >= kFrameSlots && t <= kMaxLastBorder) {
        // The transient opens the next frame: end this one there and mark it as carried
        // (a pointer one past the last envelope).
        b[0] = start;
        b[1] = t;
        if (Classify(b, 1, 1, grid)) return;
    }
    if (start == 0) {
        Fixed(r.fixedEnvelopes, grid);
        return;
    }
    b[0] = start;
    b[1] = kFrameSlots;
    if (!Classify(b, 1, 0, grid)) Fixed(1, grid);
}

}  // namespace velora::sbr
