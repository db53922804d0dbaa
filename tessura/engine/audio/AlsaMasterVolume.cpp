#include "AlsaMasterVolume.h"

#include <alsa/asoundlib.h>

namespace tessura {

namespace {
// A machine without a sound card is normal here: the library's complaints are not the user's.
void quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

struct AlsaMasterVolume::Mixer {
    snd_mixer_t* handle = nullptr;
};

AlsaMasterVolume::AlsaMasterVolume() {
    snd_lib_error_set_handler(&quiet);
    snd_mixer_t* handle = nullptr;
    if (snd_mixer_open(&handle, 0) < 0) return;
    if (snd_mixer_attach(handle, "default") < 0 || snd_mixer_selem_register(handle, nullptr, nullptr) < 0 ||
        snd_mixer_load(handle) < 0) {
        snd_mixer_close(handle);
        return;
    }
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, "Master");
    snd_mixer_elem_t* element = snd_mixer_find_selem(handle, id);
    if (element == nullptr || !snd_mixer_selem_has_playback_volume(element)) {
        snd_mixer_close(handle);
        return;
    }
    mixer_ = new Mixer{handle};
    element_ = element;
}

AlsaMasterVolume::~AlsaMasterVolume() {
    if (mixer_ != nullptr) snd_mixer_close(mixer_->handle);
    delete mixer_;
}

void AlsaMasterVolume::set(uint32_t packed) {
    if (element_ == nullptr) return;
    auto* element = static_cast<snd_mixer_elem_t*>(element_);
    long low = 0, high = 0;
    if (snd_mixer_selem_get_playback_volume_range(element, &low, &high) < 0 || high <= low) return;
    auto scale = [&](uint32_t level) { return low + static_cast<long>(level) * (high - low) / 65535; };
    const long left = scale(packed & 0xFFFF), right = scale(packed >> 16);
    if (snd_mixer_selem_is_playback_mono(element)) {
        snd_mixer_selem_set_playback_volume_all(element, left > right ? left : right);
        return;
    }
    snd_mixer_selem_set_playback_volume(element, SND_MIXER_SCHN_FRONT_LEFT, left);
    snd_mixer_selem_set_playback_volume(element, SND_MIXER_SCHN_FRONT_RIGHT, right);
}

}  // namespace tessura
