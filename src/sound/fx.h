// Drive and machine sounds: floppy motor hum, head steps, cassette relay clicks, key
// clicks and the disc insert/eject sounds, mixed into the audio output.
//
// The triggers run on the emulation thread. All but play_disc_sound travel through the
// sound generator's write ring as commands 256..259, so they sound at the emulated time
// at which they happened. The effect streams themselves are started and mixed on the
// audio thread.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Triggers (emulation thread) ---------------------------------------------------------
// Each does nothing while SOUND_FX_ENABLED is 0; the key clicks need SOUND_FX_ENABLED 2.

// Floppy motor on (not 0) or off: the looping motor hum.
void fx_motor(int on);
// A head step over `tracks` tracks: 1 plays the single-step sound, more play that many
// step clicks (at most 42).
void fx_step(int tracks);
// Cassette motor relay switched on (not 0) or off.
void fx_cassette_motor(int on);
// A key of the keyboard pressed / released.
void fx_key_press();
void fx_key_release();
// Disc inserted or taken out: the long or the short disc-handling sound, at once.
enum DiscSound : int { DISC_SOUND_SHORT = 0, DISC_SOUND_LONG = 1 };
void play_disc_sound(int which);

// ---- Recordings ------------------------------------------------------------------------------
// The nine recordings, as the program stores them: RIFF WAV, mono, 16 bits, 44,100 Hz.
enum FxRecording : int {
  FX_KEY_PRESS = 0,
  FX_KEY_RELEASE,
  FX_DISC_LONG,
  FX_DISC_SHORT,
  FX_MOTOR_HUM,
  FX_SINGLE_STEP,
  FX_STEP_CLICK,
  FX_CASSETTE_ON,
  FX_CASSETTE_OFF,
  FX_RECORDING_COUNT
};
struct FxWav {
  const uint8_t* data;
  size_t size;
};
FxWav fx_wav(int recording);
// Stored length of a recording in samples, and its gain (applied after conversion).
int fx_recording_samples(int recording);
double fx_recording_gain(int recording);
// Reads the stored WAV of a recording as samples (no conversion: 44,100 Hz mono).
// Returns the sample count, 0 when the data is not such a WAV file.
int fx_decode_wav(const uint8_t* data, size_t size, const int16_t** samples);

// Installs a recording converted to the output format (mono, signed 16 bits at the output
// rate): the gain is applied, and the step click is repeated 42 times in one buffer.
// Installing while the audio thread runs is not allowed (the device is closed first).
void fx_install(int recording, const int16_t* samples, int count);
// Installs all nine from the stored data at 44,100 Hz (the headless renderer's rate).
void fx_install_native();
// Takes over the settings the mixing depends on (CPC_TYPE: the side of the cassette
// relay). Called at every opening of the audio output.
void fx_refresh_settings();
// Drops every installed recording and stops every stream.
void fx_clear();
// Samples of an installed recording (after gain and repetition); 0 when none.
int fx_installed_samples(int recording);

// ---- Effect streams (audio thread) -----------------------------------------------------------
// Applies a drive-sound command taken from the ring (256..259).
void fx_command(int command, int value);
// One output frame of effects: the amounts to subtract from the left and right sides.
void fx_mix(int& left, int& right);
// Stops every stream (the looping motor hum included).
void fx_stop_all();
// True while stream 1..4 plays (stream 1 also counts its second slot).
bool fx_stream_active(int stream);
