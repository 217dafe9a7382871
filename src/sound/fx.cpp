// Drive and machine sounds: the triggers on the emulation thread, the effect streams
// mixed on the audio thread, and the stored recordings they play.
#include "sound/fx.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/settings.h"
#include "sound/fx_recordings.h"
#include "sound/psg.h"

namespace {

constexpr int STEP_CLICK_COPIES = 42;

struct RecordingInfo {
  int samples;
  double gain;
};
// Lengths as stored and the gain applied after conversion.
constexpr RecordingInfo RECORDING_INFO[FX_RECORDING_COUNT] = {
    {2769, 0.25},  {6492, 0.25}, {94133, 0.25}, {32668, 0.25},     {366, 1.0},
    {1130, 2.0},   {542, 2.0},   {3615, 0.25},  {2021, 1.0 / 3.0},
};

// Stream slots: 0 key press and 1 key release (together "stream 1", both sides), 2 the
// drive's head and disc sounds (right), 3 the motor hum (right, looping), 4 the
// cassette relay (left on the 664 and 6128, right on the 464).
enum Slot { KEY_DOWN = 0, KEY_UP, DRIVE, HUM, RELAY, SLOTS };

struct Stream {
  const int16_t* pos;  // nullptr when idle
  const int16_t* end;
};

struct FxState {
  std::vector<int16_t> buffers[FX_RECORDING_COUNT];  // converted, gain applied
  Stream streams[SLOTS];
  // A disc sound asked for by the emulation thread: -1 none, else DiscSound. The audio
  // thread takes it over at its next output frame, so the stream's two pointers are
  // only ever written by one thread.
  std::atomic<int> disc_request{-1};
  // Where the cassette relay is heard: 0 right, 1 left, -1 not at all.
  std::atomic<int> relay_side{0};
};
FxState fx;

void start(Slot slot, int recording, int copies = 1) {
  const std::vector<int16_t>& b = fx.buffers[recording];
  if (b.empty() || copies <= 0) return;
  size_t n = b.size();
  if (recording == FX_STEP_CLICK) n = n / STEP_CLICK_COPIES * static_cast<size_t>(copies);
  fx.streams[slot].pos = b.data();
  fx.streams[slot].end = b.data() + n;
}

void stop(Slot slot) { fx.streams[slot] = Stream{nullptr, nullptr}; }

// The current sample of a stream, then one step on.
int take(Slot slot) {
  Stream& s = fx.streams[slot];
  if (!s.pos) return 0;
  const int v = *s.pos++;
  if (s.pos >= s.end) {
    if (slot == HUM) s.pos = fx.buffers[FX_MOTOR_HUM].data();  // the hum loops
    else stop(slot);
  }
  return v;
}

int clamp16(long v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : static_cast<int>(v)); }

int relay_side_for_type(int cpc_type) {
  if (cpc_type == 1 || cpc_type == 2) return 1;
  if (cpc_type == 0) return 0;
  return -1;
}

}  // namespace

// ---- Triggers ------------------------------------------------------------------------------

void fx_motor(int on) {
  if (setting(kw::SOUND_FX_ENABLED) == 0) return;
  psg_write(psgcmd::MOTOR, on);
}

void fx_step(int tracks) {
  if (setting(kw::SOUND_FX_ENABLED) == 0) return;
  tracks = std::abs(tracks);
  if (tracks == 0) return;
  if (tracks == 1) {
    psg_write(psgcmd::STEP, 2);
  } else {
    psg_write(psgcmd::STEP, (tracks > STEP_CLICK_COPIES ? STEP_CLICK_COPIES : tracks) * 4 + 3);
  }
}

void fx_cassette_motor(int on) {
  if (setting(kw::SOUND_FX_ENABLED) == 0) return;
  psg_write(psgcmd::CASSETTE, on ? 1 : 0);
}

void fx_key_press() {
  if (setting(kw::SOUND_FX_ENABLED) != 2) return;
  psg_write(psgcmd::KEY, 1);
}

void fx_key_release() {
  if (setting(kw::SOUND_FX_ENABLED) != 2) return;
  psg_write(psgcmd::KEY, 0);
}

void play_disc_sound(int which) {
  if (setting(kw::SOUND_FX_ENABLED) == 0) return;
  fx.disc_request.store(which == DISC_SOUND_LONG ? DISC_SOUND_LONG : DISC_SOUND_SHORT,
                        std::memory_order_release);
}

// ---- Recordings ------------------------------------------------------------------------------

FxWav fx_wav(int recording) {
  if (recording < 0 || recording >= FX_RECORDING_COUNT) return FxWav{nullptr, 0};
  return FxWav{fx_wav_table[recording].data, fx_wav_table[recording].size};
}

int fx_recording_samples(int recording) {
  if (recording < 0 || recording >= FX_RECORDING_COUNT) return 0;
  return RECORDING_INFO[recording].samples;
}

double fx_recording_gain(int recording) {
  if (recording < 0 || recording >= FX_RECORDING_COUNT) return 0.0;
  return RECORDING_INFO[recording].gain;
}

namespace {
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
}  // namespace

int fx_decode_wav(const uint8_t* data, size_t size, const int16_t** samples) {
  *samples = nullptr;
  if (!data || size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return 0;
  bool format_ok = false;
  size_t at = 12;
  while (at + 8 <= size) {
    const uint8_t* chunk = data + at;
    const size_t len = le32(chunk + 4);
    if (len > size - at - 8) return 0;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (len < 16) return 0;
      format_ok = le16(chunk + 8) == 1 && le16(chunk + 10) == 1 && le32(chunk + 12) == 44100 &&
                  le16(chunk + 22) == 16;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      // The samples are read in place: they must be 16-bit aligned.
      if (!format_ok || (reinterpret_cast<uintptr_t>(chunk + 8) & 1)) return 0;
      *samples = reinterpret_cast<const int16_t*>(chunk + 8);
      return static_cast<int>(len / 2);
    }
    at += 8 + len + (len & 1);
  }
  return 0;
}

void fx_install(int recording, const int16_t* samples, int count) {
  if (recording < 0 || recording >= FX_RECORDING_COUNT) return;
  std::vector<int16_t>& b = fx.buffers[recording];
  b.clear();
  if (!samples || count <= 0) return;
  const double gain = RECORDING_INFO[recording].gain;
  const int copies = recording == FX_STEP_CLICK ? STEP_CLICK_COPIES : 1;
  b.resize(static_cast<size_t>(count) * copies);
  for (int i = 0; i < count; ++i)
    b[i] = static_cast<int16_t>(clamp16(std::lround(samples[i] * gain)));
  for (int c = 1; c < copies; ++c)
    std::memcpy(b.data() + static_cast<size_t>(c) * count, b.data(), sizeof(int16_t) * count);
}

void fx_install_native() {
  for (int r = 0; r < FX_RECORDING_COUNT; ++r) {
    const int16_t* samples = nullptr;
    const int n = fx_decode_wav(fx_wav_table[r].data, fx_wav_table[r].size, &samples);
    fx_install(r, samples, n);
  }
  fx_refresh_settings();
}

void fx_refresh_settings() {
  fx.relay_side.store(relay_side_for_type(setting(kw::CPC_TYPE)), std::memory_order_relaxed);
}

void fx_clear() {
  fx_stop_all();
  for (auto& b : fx.buffers) std::vector<int16_t>().swap(b);
}

int fx_installed_samples(int recording) {
  if (recording < 0 || recording >= FX_RECORDING_COUNT) return 0;
  return static_cast<int>(fx.buffers[recording].size());
}

// ---- Streams ---------------------------------------------------------------------------------

void fx_command(int command, int value) {
  switch (command) {
    case psgcmd::KEY:
      if (value == 1) start(KEY_DOWN, FX_KEY_PRESS);
      else if (value == 0) start(KEY_UP, FX_KEY_RELEASE);
      break;
    case psgcmd::STEP:
      if ((value & 3) == 2) start(DRIVE, FX_SINGLE_STEP);
      else if ((value & 3) == 3) {
        int n = value >> 2;
        if (n > STEP_CLICK_COPIES) n = STEP_CLICK_COPIES;
        start(DRIVE, FX_STEP_CLICK, n);
      }
      break;
    case psgcmd::MOTOR:
      if (value == 0) stop(HUM);
      else if (!fx.streams[HUM].pos) start(HUM, FX_MOTOR_HUM);
      break;
    case psgcmd::CASSETTE:
      if (value == 1) start(RELAY, FX_CASSETTE_ON);
      else if (value == 0) start(RELAY, FX_CASSETTE_OFF);
      break;
    default: break;
  }
}

void fx_mix(int& left, int& right) {
  const int request = fx.disc_request.load(std::memory_order_relaxed) < 0
                          ? -1
                          : fx.disc_request.exchange(-1, std::memory_order_acquire);
  if (request >= 0) start(DRIVE, request == DISC_SOUND_LONG ? FX_DISC_LONG : FX_DISC_SHORT);

  const int keys = take(KEY_DOWN) + take(KEY_UP);
  int l = keys;
  int r = keys + take(DRIVE) + take(HUM);
  if (fx.streams[RELAY].pos) {
    const int side = fx.relay_side.load(std::memory_order_relaxed);
    const int v = take(RELAY);
    if (side == 1) l += v;
    else if (side == 0) r += v;
  }
  left = l;
  right = r;
}

void fx_stop_all() {
  for (int s = 0; s < SLOTS; ++s) stop(static_cast<Slot>(s));
  fx.disc_request.store(-1, std::memory_order_relaxed);
}

bool fx_stream_active(int stream) {
  switch (stream) {
    case 1: return fx.streams[KEY_DOWN].pos || fx.streams[KEY_UP].pos;
    case 2: return fx.streams[DRIVE].pos != nullptr;
    case 3: return fx.streams[HUM].pos != nullptr;
    case 4: return fx.streams[RELAY].pos != nullptr;
    default: return false;
  }
}
