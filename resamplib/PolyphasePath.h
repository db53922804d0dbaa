// The time-domain converter: a circular history per channel and one sub-filter (or, with the
// 512-phase table, two adjacent ones) dotted with it per output sample.
#pragma once

#include <memory>

namespace velora::resample {

class PolyphasePath {
  public:
    // `taps` is the prototype (length N) designed at `phases` times the input rate. With
    // phases == up the positions fall exactly on phases; otherwise (the 512-phase table)
    // each output interpolates linearly between the two phases around its position: taking
    // the nearest phase instead leaves a timing error of up to 1/1024 input sample, whose
    // products measured -60 dB (22050 -> 32000 Hz) against -98 dB interpolated.
    // `delay` is the delay to hold exactly, in input samples. False when memory is short.
    bool Init(const double* taps, long long length, int up, int down, int phases, int delay,
              int channels);

    // Consumes `frames` interleaved input frames (null: that many zero frames) and writes
    // the output frames that became due; returns how many.
    int Run(const float* input, int frames, float* output);

  private:
    void Push(const float* frame);
    void Emit(float* frame) const;
    void Advance();

    int channels_ = 0;
    bool interpolate_ = false;
    int width_ = 0;       // taps in a table row, padded with zeros on the oldest side
    int ringLength_ = 0;  // width_ + 1: an output may lag the newest sample by one
    std::unique_ptr<float[]> table_;
    std::unique_ptr<float[]> rings_;  // per channel 2 * ringLength_, each sample written twice
    int write_ = 0;                   // oldest sample of every ring

    // Positions count whole input samples, phases within a sample and units of
    // 1 / unitsPerPhase_ within a phase (always 0 without the table).
    int phases_ = 1;
    long long unitsPerPhase_ = 1;
    long long unitsPerSample_ = 1;
    double unitFraction_ = 0.0;  // 1 / unitsPerPhase_
    // One output's step: whole samples, then the rest in units (as phases and units).
    long long stepSamples_ = 0;
    long long stepUnits_ = 0;
    long long stepPhases_ = 0;
    long long stepFraction_ = 0;
    long long emitRest_ = 0;  // where the next output is due, in units within its sample
    long long phase_ = 0;     // the filter's phase for it
    long long fraction_ = 0;  // and the units past that phase
    long long pending_ = 0;   // inputs still to come before the next output is due
    long long lag_ = 0;       // how far that output's newest tap is behind the newest input
};

}  // namespace velora::resample
