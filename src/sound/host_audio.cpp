// The SDL audio device: opening and closing it, the audio callback, the frame mark,
// and the conversion of the stored drive and machine sounds to the device's format.
#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "config/settings.h"
#include "core/host.h"
#include "sound/audio.h"
#include "sound/fx.h"
#include "sound/psg.h"

namespace {

struct AudioDevice {
  SDL_AudioDeviceID id = 0;
};
AudioDevice device;

// SDL's audio thread: 256 frames of 4 bytes each time.
void audio_callback(void*, Uint8* stream, int len) {
  audio_mix(reinterpret_cast<int16_t*>(stream), len / 4);
}

void sdl_spin_lock(int* word) { SDL_AtomicLock(word); }
void sdl_spin_unlock(int* word) { SDL_AtomicUnlock(word); }
void lock_device() {
  if (device.id) SDL_LockAudioDevice(device.id);
}
void unlock_device() {
  if (device.id) SDL_UnlockAudioDevice(device.id);
}

void close_device() {
  if (device.id) {
    SDL_CloseAudioDevice(device.id);
    device.id = 0;
  }
}

// Converts one stored recording to mono signed 16 bits at the device rate and installs
// it. A recording that fails to load or convert stays empty (its trigger plays nothing).
void convert_recording(int recording, int rate) {
  fx_install(recording, nullptr, 0);
  const FxWav wav = fx_wav(recording);
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV_RW(SDL_RWFromConstMem(wav.data, static_cast<int>(wav.size)), 1, &spec, &data,
                      &length))
    return;
  SDL_AudioCVT cvt;
  if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16LSB, 1, rate) < 0) {
    SDL_FreeWAV(data);
    return;
  }
  cvt.len = static_cast<int>(length);
  cvt.buf = static_cast<Uint8*>(std::malloc(static_cast<size_t>(cvt.len) * cvt.len_mult));
  if (!cvt.buf) {
    SDL_FreeWAV(data);
    return;
  }
  std::memcpy(cvt.buf, data, length);
  SDL_FreeWAV(data);
  if (SDL_ConvertAudio(&cvt) == 0)
    fx_install(recording, reinterpret_cast<const int16_t*>(cvt.buf), cvt.len_cvt / 2);
  std::free(cvt.buf);
}

}  // namespace

int audio_open(int keep_ring) {
  audio_set_spin_lock(sdl_spin_lock, sdl_spin_unlock);
  audio_set_device_lock(lock_device, unlock_device);
  if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    std::cerr << "Couldn't open SDL audio: " << SDL_GetError() << std::endl;
    return 1;
  }
  close_device();
  if (!keep_ring || !psg_ring_allocated()) {
    psg_ring_release();
    psg_ring_allocate();
    audio_reset(true);
  }

  SDL_AudioSpec want;
  SDL_AudioSpec have;
  SDL_zero(want);
  SDL_zero(have);
  want.freq = audio_rate_for_setting(setting(kw::SB_SAMPLE_RATE));
  want.format = AUDIO_S16LSB;
  want.channels = 2;
  want.samples = 256;
  want.callback = audio_callback;
  device.id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (device.id == 0) {
    std::cerr << "Couldn't open SDL audio: " << SDL_GetError() << std::endl;
    return 1;
  }
  std::cout << "Audio@" << have.freq << " Hz (" << have.size << " Bytes)." << std::endl;

  // The callback is not running yet (the device starts paused): the rate-dependent
  // state and the converted recordings can be set up without holding it off.
  psg_set_output_rate(have.freq);
  for (int r = 0; r < FX_RECORDING_COUNT; ++r) convert_recording(r, have.freq);
  fx_refresh_settings();
  audio_set_enabled(setting(kw::SOUND_ENABLED) != 0);
  audio_set_mute_count(0);
  SDL_PauseAudioDevice(device.id, 0);
  return 0;
}

void audio_stop() {
  if (audio_mute_count() != 0) return;
  audio_set_mute_count(1);
  close_device();
}

void audio_resume() {
  if (audio_mute_count() == 0) return;
  audio_open(1);
  audio_set_mute_count(0);
}

void audio_toggle() {
  const int enabled = setting(kw::SOUND_ENABLED) ? 0 : 1;
  set_setting(kw::SOUND_ENABLED, enabled);
  audio_set_enabled(enabled != 0);
  if (device.id) SDL_PauseAudioDevice(device.id, enabled ? 0 : 1);
  if (enabled) audio_open(1);
  else close_device();
}

void audio_close(int release) {
  close_device();
  if (release) {
    psg_ring_release();
    fx_clear();
  }
}

void audio_mark_frame(uint64_t frame_start_us) {
  // Writes that found the ring full are queued now that the audio side had time.
  psg_flush_coalesced();
  audio_clock_set(frame_start_us);  // under the SDL spin lock installed at opening
}

bool audio_device_open() { return device.id != 0; }

void audio_install_host_hooks() {
  host.audio_mark_frame = audio_mark_frame;
  host.audio_open = [] { return audio_open(1); };
  host.audio_close = [] { audio_close(0); };
}
