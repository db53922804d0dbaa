#include "CPlayer.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace tessura {

namespace {

// Texts from a module are read no further than this, terminated or not.
constexpr std::size_t kMaxModuleText = 4096;

std::string moduleText(const char* text) {
    return text != nullptr ? std::string(text, strnlen(text, kMaxModuleText)) : std::string();
}

}  // namespace

void visSpectrum(const int8_t* samples, uint8_t* bins) {
    constexpr int kPoints = 512, kBits = 9;
    std::array<std::complex<double>, kPoints> x;
    for (int n = 0; n < kPoints; ++n) {
        int reversed = 0;
        for (int b = 0; b < kBits; ++b) reversed |= ((n >> b) & 1) << (kBits - 1 - b);
        x[static_cast<std::size_t>(reversed)] = samples[n] / 16.0;
    }
    for (int size = 2; size <= kPoints; size *= 2) {
        const std::complex<double> step = std::polar(1.0, -2.0 * M_PI / size);
        for (int start = 0; start < kPoints; start += size) {
            std::complex<double> w = 1.0;
            for (int k = 0; k < size / 2; ++k) {
                auto& a = x[static_cast<std::size_t>(start + k)];
                auto& b = x[static_cast<std::size_t>(start + k + size / 2)];
                const std::complex<double> t = w * b;
                b = a - t;
                a += t;
                w *= step;
            }
        }
    }
    // Held at 255: a loud bin would otherwise wrap round to a small one.
    for (int k = 0; k < 256; ++k)
        bins[k] = static_cast<uint8_t>(std::min(255L, std::lround(std::abs(x[static_cast<std::size_t>(k)].real()))));
}

CPlayer::CPlayer(InputModule& module, PlayerContext& context) : module_(module), context_(context) {}

CPlayer::~CPlayer() {
    if (opened_) Close();
}

bool CPlayer::rendersItself() const {
    return (module_.description().flags & MODULE_RENDERS_ITSELF) != 0;
}

bool CPlayer::opensSources() const {
    return (module_.description().flags & MODULE_OPENS_SOURCES) != 0;
}

bool CPlayer::Load(bool initialise) {
    return module_.load(initialise) == InputModule::LoadResult::Loaded;
}

void CPlayer::Unload(bool shutdown) {
    module_.unload(shutdown);
}

bool CPlayer::Open(const std::string& source) {
    if (!module_.loaded() || record().Open == nullptr || source.empty()) return false;
    sourceName_ = source;
    if (opensSources()) {
        std::lock_guard<std::mutex> open(context_.openLock);
        if (record().Open(&record(), source.c_str()) == 0) return false;
        infoValid_ = false;
        opened_ = true;
        return true;
    }
    if (!source_) source_ = ChooseStreamSource(context_.sourceKinds, source);
    if (!source_) {
        if (context_.reportError) context_.reportError("errors/noinputmodule");
        return false;
    }
    if (!source_->Open(source, context_.request)) {
        source_.reset();
        if (context_.reportError) context_.reportError("errors/erroropeningfile");
        return false;
    }
    if (record().Open(&record(), source.c_str()) == 0) {
        source_->Close();
        source_.reset();
        return false;
    }
    infoValid_ = false;
    opened_ = true;
    return true;
}

void CPlayer::Close() {
    if (opened_ && module_.loaded() && record().Close != nullptr) record().Close(&record());
    if (source_) source_->Close();
    source_.reset();
    opened_ = playing_ = paused_ = false;
    seekTarget_.reset();
}

bool CPlayer::Play(bool restart) {
    if (paused_) return TogglePause();
    if (!opened_ || record().Play == nullptr) return false;
    std::lock_guard<std::mutex> playing(playLock_);
    songId_ = context_.chain.CurrentSongId() + 1;
    if (restart || rendersItself()) context_.chain.Close(true);
    infoValid_ = false;
    seekTarget_.reset();
    playing_ = record().Play(&record()) != 0;
    return playing_;
}

void CPlayer::Stop() {
    std::lock_guard<std::mutex> global(context_.playMutex);
    // A module's decoding thread may be waiting for a slot that a paused output never frees.
    if (paused_) {
        if (!rendersItself()) context_.chain.Flush();
        paused_ = false;
    }
    if (module_.loaded() && record().Stop != nullptr) record().Stop(&record());
    playing_ = false;
    seekTarget_.reset();
}

bool CPlayer::TogglePause() {
    if (!module_.loaded()) return false;
    if (rendersItself()) {
        if (record().Pause == nullptr) return false;
        const bool pauseNow = !paused_;
        if (record().Pause(&record(), pauseNow ? 1 : 0) == 0) return false;
        paused_ = pauseNow;
        return true;
    }
    if (!playing_ && !context_.chain.IsPlaying()) return false;
    if (paused_) {
        context_.chain.Resume();
    } else {
        context_.chain.Pause();
    }
    paused_ = !paused_;
    return true;
}

bool CPlayer::Seek(int32_t ms, bool flush) {
    if (!opened_ || record().Seek == nullptr) return false;
    RefreshInfo(false);
    const int32_t before = Position();
    const bool ok = record().Seek(&record(), ms) != 0;
    if (!rendersItself() && flush) context_.chain.Flush();
    if (ok) {
        seekTarget_ = ms;
        seekComparedAt_ = before;
    }
    return ok;
}

int32_t CPlayer::Position() {
    int32_t ms = -1;
    if (rendersItself()) {
        if (record().GetPosition == nullptr || record().GetPosition(&record(), &ms) == 0) ms = -1;
    } else {
        ms = context_.chain.Position();
    }
    if (seekTarget_) {
        // Until the position has moved on, the target shows: the old position would flash back.
        if (std::abs(ms - seekComparedAt_) <= kSeekHoldMs) return *seekTarget_;
        seekTarget_.reset();
    }
    return ms;
}

int32_t CPlayer::Length() {
    if (rendersItself()) {
        int32_t ms = -1;
        if (!playing_ || record().GetLength == nullptr || record().GetLength(&record(), &ms) == 0) return -1;
        return ms;
    }
    RefreshInfo(false);
    return info_.lengthMs;
}

bool CPlayer::IsActive() {
    if (rendersItself())
        return !paused_ && record().IsPlaying != nullptr && record().IsPlaying(&record()) != 0;
    return playing_ || context_.chain.IsPlaying();
}

void CPlayer::SetVolume(uint32_t packed) {
    if (rendersItself()) {
        if (module_.loaded() && record().SetVolume != nullptr) record().SetVolume(&record(), packed);
        return;
    }
    context_.chain.SetVolume(packed);
}

bool CPlayer::GetVisData(uint8_t* block, int32_t flags) {
    const int32_t wanted = MODULE_RENDERS_ITSELF | MODULE_SUPPLIES_VIS_DATA;
    if (block == nullptr || (module_.description().flags & wanted) != wanted || record().GetVisData == nullptr)
        return false;
    std::memset(block, 0, kVisBlockBytes);
    if (record().GetVisData(&record(), block + 4, flags) == 0) return false;
    const int32_t position = Position();
    std::memcpy(block, &position, sizeof position);
    if ((flags & kVisWantSpectrum) != 0) {
        visSpectrum(reinterpret_cast<const int8_t*>(block + 4), block + 1028);
        visSpectrum(reinterpret_cast<const int8_t*>(block + 516), block + 1284);
    }
    return true;
}

std::string CPlayer::Describe() const {
    return module_.description().name;
}

void CPlayer::RefreshInfo(bool force) {
    if (infoValid_ && !force) return;
    if (!opened_ || record().GetInfo == nullptr) return;
    StreamInfo stream;
    if (source_) source_->GetInfo(stream);
    TrackInfo info{};
    info.streamText = stream.streamText.c_str();
    info.lengthMs = -1;
    if (record().GetInfo(&record(), &info) == 0) return;
    info_.title = moduleText(info.title);
    if (info_.title.empty()) info_.title = stream.title;
    info_.streamText = moduleText(info.streamText);
    const std::string first = moduleText(info.infoText1), second = moduleText(info.infoText2);
    info_.infoText = first.empty() || second.empty() ? first + second : first + " " + second;
    info_.lengthMs = info.lengthMs;
    infoValid_ = true;
}

std::string CPlayer::InfoText() {
    RefreshInfo(false);
    return info_.infoText;
}

std::string CPlayer::StreamText() {
    RefreshInfo(false);
    return info_.streamText;
}

std::string CPlayer::Title() {
    RefreshInfo(false);
    return info_.title;
}

}  // namespace tessura
