// What an encoder handle points to. Private to the library (and its tests).
#pragma once

#include "EncoderApi.h"
#include "EncoderPipeline.h"
#include "TuningTables.h"

namespace velora::enc {

struct Mp3EncInstance {
    int inputRate = 0;
    int inputChannels = 0;
    int inputFormat = kInputInt16;
    EncoderOutputFormat format;
    EncoderConfiguration config;
    const char* buildDate = "Dec 18 2001";
    const char* version = "1.2";
    const TuningTables* tables = nullptr;
    SbrTuningRow sbrRow{};  // the row SBR tuning chose, with SBR on
    bool hasSbrRow = false;
    EncoderPipeline pipeline;
};

// mp3EncOpen with other tuning tables (which must outlive the handle).
Mp3EncHandle OpenWithTables(int inputSampleRate, int inputChannels, int inputSampleFormat,
                            const TuningTables& tables);

}  // namespace velora::enc
