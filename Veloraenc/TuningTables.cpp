#include "TuningTables.h"

namespace velora::enc {
namespace {

// 64 kbit/s, two coded channels, SBR over a 22050 Hz core.
constexpr SbrTuningRow kSbrRows[] = {
    {64000, 64001, 22050, 2, 10, 9, {0, 0, 0, 0, 0}, 2},
};

// Both blocks offer a 22050 Hz core at exactly 64000 bit/s (the row before ends at 64000).
constexpr CoreTuningRow kCoreRows[] = {
    {0, 0, 0, {0, 0}, 8000},         {0, 0, 0, {0, 0}, 16000},
    {0, 0, 0, {0, 0}, 24000},        {0, 0, 0, {0, 0}, 32000},
    {0, 0, 0, {0, 0}, 40000},        {0, 0, 0, {0, 0}, 48000},
    {0, 0, 0, {0, 0}, 56000},        {0, 0, 0, {0, 0}, 64000},
    {22050, 22050, 22050, {0, 0}, 64001}, {0, 0, 0, {0, 0}, 80000},
    {0, 0, 0, {0, 0}, 96000},        {0, 0, 0, {0, 0}, 128000},
    {0, 0, 0, {0, 0}, 192000},       {0, 0, 0, {0, 0}, 320001},
};
static_assert(sizeof(kCoreRows) / sizeof(kCoreRows[0]) == kCoreTuningBlockRows);

constexpr int kSbrRowCount = static_cast<int>(sizeof(kSbrRows) / sizeof(kSbrRows[0]));

constexpr TuningTables kDefault{
    kSbrRows, kSbrRowCount, {kCoreRows, kCoreRows}, {kCoreTuningBlockRows, kCoreTuningBlockRows}};

}  // namespace

const TuningTables& DefaultTuningTables() { return kDefault; }

}  // namespace velora::enc
