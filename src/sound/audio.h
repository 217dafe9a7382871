// The audio output: one mixing path (sound generator minus the drive and machine
// sounds) shared by the SDL audio device and the headless renderer of arvelo-run.
#pragma once
#include <cstdint>

// ---- Mixing (audio thread; machine side) ----------------------------------------------------

// SOUND_ENABLED as the audio thread sees it (taken over when the output opens and when
// the hot key toggles it).
void audio_set_enabled(bool on);
bool audio_enabled();

// Output sample rate chosen by SB_SAMPLE_RATE: 0 22,050, 1 44,100, 2 48,000, 3 62,500,
// any other value 44,100.
int audio_rate_for_setting(int sb_sample_rate);

// Fills `frames` stereo frames (left, right; signed 16 bits) the way the audio callback
// does: silence while sound is disabled; otherwise per frame the generator's output
// minus the effect streams, then the audio clock steps on and due writes are applied
// (not while muted). Allocates nothing and takes no lock but the clock's spin lock.
void audio_mix(int16_t* stereo, int frames);

// ---- Headless rendering (machine side) -------------------------------------------------------
// Renders the output by emulated time rather than by a device clock: sample k of the
// recording lies at emulated microsecond start + k * 1,000,000 / rate.

// Prepares the mixing path for headless rendering at `rate`: ring, full reset, stored
// recordings installed at their native rate, time stamps recorded whatever REALTIME is.
void audio_headless_begin(int rate);
// Renders frames whose time has been reached by `until_us`, at most max_frames of them
// into `stereo`; returns how many. When the emulated clock went back (a machine reset),
// rendering restarts from until_us.
int audio_render_headless(int16_t* stereo, int max_frames, uint64_t until_us);
// Emulated time of the next frame audio_render_headless will produce.
uint64_t audio_headless_time();
void audio_headless_end();

// A WAV recording of the headless output (44,100 Hz stereo, 16 bits). Open prints
// "Couldn't write audio file: " and the name on standard error and returns 1 when the
// file cannot be created. capture_frame is the frame mark: it renders up to the frame
// start it is given (hook it to the host's audio_mark_frame). close renders up to
// `end_us`, completes the header and returns 0, or 1 when writing failed.
int audio_capture_open(const char* path);
void audio_capture_frame(uint64_t frame_start_us);
int audio_capture_close(uint64_t end_us);
bool audio_capture_active();

// ---- The SDL audio device (host_audio.cpp, in the host library) ----------------------------------
int audio_open(int keep_ring);
void audio_stop();
void audio_resume();
void audio_toggle();
void audio_close(int release);
void audio_mark_frame(uint64_t frame_start_us);
bool audio_device_open();
// Points the host hooks (core/host.h) for the audio at the functions above.
void audio_install_host_hooks();
