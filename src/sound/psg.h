// The AY-3-8912 sound generator of the CPC, clocked at 1 MHz.
//
// Two threads share it. The emulation thread owns the register file the processor sees
// (through the PPI) and records every register write, stamped with the emulated
// microsecond, in a single-producer single-consumer ring (`psg_write`). The audio thread
// (the SDL audio callback, or the headless renderer) runs the synthesiser: it applies
// the recorded writes when its audio clock reaches their time stamps and produces one
// stereo frame per output sample (`psg_render_sample`).
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

// ---- Emulation side --------------------------------------------------------------------

// Records a register write: reg 0..15 also updates the register file; 256..259 are the
// drive and machine sound commands of fx.h. Never allocates or locks.
void psg_write(int reg, int value);

// Register file as the processor reads it through the PPI (reg & 15).
uint8_t psg_read(int reg);
// Sets a register file byte without queuing a write: the PPI stores the keyboard row it
// read into register 14 (the generator's input port).
void psg_store(int reg, int value);
// Selected register (0..15) of the generator's bus.
void psg_select(int reg);
int psg_selected();

// POWER_ON: the audio side's full reset (audio_reset), then every register 0
// and register 14 = 255 (all queued through psg_write), register 0 selected.
// APPLY_SETTINGS does nothing.
void psg_reset(ResetKind kind);

// Snapshot block: the selected register, then the 16 register values (17 bytes).
// Loading replays every register through psg_write and selects (first byte & 15).
constexpr int PSG_BLOCK_SIZE = 17;
void psg_save(uint8_t* out);
void psg_load(const uint8_t* in);
int psg_save(std::ostream& out);  // 0, or 1 when the stream failed
int psg_load(std::istream& in);   // 0, or 1 when the block was short (nothing loaded)

// Debugger dump: three lines "PSG :  current addr = ..", "PSG :  register 00 .. 0F",
// "PSG :  value   = ..".
void psg_dump(std::ostream& out);

// ---- Write ring --------------------------------------------------------------------------

// Command numbers carried by the ring besides the 16 registers.
namespace psgcmd {
constexpr int KEY = 256;       // 1 key press, 0 key release
constexpr int STEP = 257;      // 2 single step; n * 4 + 3: n step clicks
constexpr int MOTOR = 258;     // 0 floppy motor hum off, other values on
constexpr int CASSETTE = 259;  // 1 cassette relay on, 0 off
}  // namespace psgcmd

constexpr int PSG_RING_RECORDS = 30000;

// Allocates the ring (emptied) when there is none; frees it. While there is no ring,
// writes reach the register file only.
void psg_ring_allocate();
void psg_ring_release();
bool psg_ring_allocated();
// Records written but not yet applied by the audio side (emulation thread view).
int psg_ring_pending();
// Writes that found the ring full and were folded into the newest value of their
// register (see psg.cpp); they are queued again as soon as there is room.
uint64_t psg_ring_coalesced();
// Queues folded writes once the ring has room again (called once per frame).
void psg_flush_coalesced();

// Record timing: time stamps and spacing are recorded while REALTIME is on, or always
// while forced (the headless renderer plays by emulated time whatever the throttle).
void psg_force_timestamps(bool on);

// ---- Audio side ------------------------------------------------------------------------------

// Outer (channels A, C) and centre (channel B) amplitude tables.
extern const int psg_outer_amplitude[16];
extern const int psg_centre_amplitude[16];

// Output rate of the synthesiser: sets the conversion factors (samples per 16 µs) and
// the microseconds per sample. Call while the audio thread is not running.
void psg_set_output_rate(int rate);
int psg_output_rate();
int psg_us_per_sample();

// Audio clock: the emulated microsecond the audio thread has reached. Shared by both
// threads under a spin lock held only for the read-modify-write of the clock.
void audio_clock_set(uint64_t us);
uint64_t audio_clock();
// The spin lock's functions; the SDL host installs SDL_AtomicLock/SDL_AtomicUnlock.
// Both work on the same lock word, an int (SDL_SpinLock).
void audio_set_spin_lock(void (*lock)(int*), void (*unlock)(int*));
void audio_lock_clock();
void audio_unlock_clock();

// Sets the audio clock to the emulated microsecond counter and empties the ring; with
// full also clears the synthesiser, the burst state and the drive sounds.
void audio_reset(bool full);

// One stereo output frame of the generator (0..24575 each side); 0 while muted.
void psg_render_sample(int& left, int& right);
// After each output frame (not while muted): advances the audio clock and applies the
// writes that are due.
void psg_apply_due_writes();
// The same with the clock set to `clock`, `elapsed` microseconds after the previous
// output frame (the headless renderer, which keeps exact emulated time per sample).
void psg_apply_due_writes_at(uint64_t clock, uint64_t elapsed);

// Holds the audio thread off while the emulation thread resets shared state (the SDL
// host installs SDL_LockAudioDevice/SDL_UnlockAudioDevice; headless: nothing to hold).
void audio_set_device_lock(void (*lock)(), void (*unlock)());

// Mute counter: while not 0 the generator is silent and writes are not applied.
void audio_mute();
void audio_unmute();
int audio_mute_count();
void audio_set_mute_count(int n);

// Inspection of the audio-side state (tests and the debugger).
struct PsgSynthView {
  uint8_t regs[16];
  int64_t half_period[3];  // tone half-periods in 1/65536 samples
  int amplitude[3];
  bool tone_on[3], noise_on[3], env_mode[3];
  int64_t noise_period;     // 1/65536 samples
  uint32_t noise_shift;
  int64_t envelope_period;  // 1/65536 samples
  int shape;
  uint64_t envelope_step;
};
PsgSynthView psg_synth_view();
