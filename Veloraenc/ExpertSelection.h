// Chooses the automatic fields of an output format from the tuning tables: whether SBR can
// serve the bit rate (and at which core rate), the channel mode, the output rate, and the
// SBR table row that configures the SBR encoder.
#pragma once

#include "EncoderApi.h"
#include "TuningTables.h"

namespace velora::enc {

// Whether a Layer III core at `coreRate` Hz has the bit rate: 32..320 kbit/s from
// 32000 Hz up (MPEG-1), 8..160 kbit/s below (MPEG-2 and 2.5), standard steps only.
bool CoreOffersBitrate(int coreRate, int bitrate);

// Coded core channels of a channel mode: 2 for Stereo and Dual Mono, else 1.
int CodedChannels(uint32_t channelMode);

// The core rate at which an SBR row serves `bitrate` with `channels` coded channels for the
// output rate `rate`: rate / 2, else 22050 above 44100, else 16000 above 32000; 0 when none
// (always below 32000 Hz).
int SbrFeasibleCoreRate(const TuningTables& tables, int bitrate, int channels, int rate);

// The first SBR row for these coded channels, core rate and bit rate; null when none.
const SbrTuningRow* FindSbrRow(const TuningTables& tables, int bitrate, int channels, int coreRate);

// The core row for a bit rate: in the block of the coded channel count, the first row whose
// bound exceeds it. Null when the block ends first or the row offers nothing.
const CoreTuningRow* FindCoreRow(const TuningTables& tables, int codedChannels, int bitrate);

// Fills the zeros of `format` for an input of `inputRate` Hz and `inputChannels`; false when
// the tables offer no operating point for it, or for constant bit rate when the chosen core
// lacks the bit rate (`format` is then unchanged). An input below the core row's range is
// coded at its own rate.
bool ExpertSelect(const TuningTables& tables, int inputRate, int inputChannels,
                  EncoderOutputFormat& format);

// The bit rate the SBR row is chosen by: the format's for CBR; for VBR a per-channel rate
// from the quality times the coded channels.
int SbrTuningBitrate(const EncoderOutputFormat& format);

// The SBR row for a format with SBR on (its output rate twice the row's core rate); null
// when none fits.
const SbrTuningRow* SelectSbrTuning(const TuningTables& tables, const EncoderOutputFormat& format);

}  // namespace velora::enc
