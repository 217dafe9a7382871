// The AY-3-8912: register file and write recording on the emulation thread, the
// synthesiser and the application of recorded writes on the audio thread.
#include "sound/psg.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

#include "config/settings.h"
#include "sound/fx.h"
#include "video/raster.h"

const int psg_outer_amplitude[16] = {0,    258,  366,  517,  733,   1035,  1464,  2067,
                                     2919, 4095, 5825, 8254, 11625, 16422, 23195, 32767};
const int psg_centre_amplitude[16] = {0,    129,  183,  258,  366,  517,  732,   1033,
                                      1459, 2047, 2912, 4126, 5812, 8211, 11597, 16383};

namespace {

// One recorded write (24 bytes). The producer fills register, value, time and delta
// before publishing the record; `rapid` may still be set afterwards (a burst is only
// recognised at its second write), so it is an atomic of its own.
struct PsgRecord {
  int32_t reg;
  uint32_t value;
  uint64_t time;
  uint32_t delta;
  std::atomic<uint32_t> rapid;
};
static_assert(sizeof(PsgRecord) == 24, "a write record is 24 bytes");

constexpr uint64_t BURST_END_US = 50000;   // a burst ends after this long without a write
constexpr uint64_t BURST_GAP_US = 200;     // volume writes closer than this form a burst
constexpr uint32_t MAX_DELTA_US = 50000;   // longer spacings are recorded as 0
constexpr uint32_t BURST_JOIN_US = 9;      // burst records this close play in one frame
constexpr uint64_t NEVER = ~uint64_t{0};   // "no write yet" for the burst timer

// Commands that the overflow folding keeps (their last value matters): the 16
// registers, the floppy motor and the cassette relay.
constexpr int FOLD_SLOTS = 18;
int fold_slot(int reg) {
  if (reg >= 0 && reg < 16) return reg;
  if (reg == psgcmd::MOTOR) return 16;
  if (reg == psgcmd::CASSETTE) return 17;
  return -1;
}
int fold_register(int slot) {
  if (slot < 16) return slot;
  return slot == 16 ? psgcmd::MOTOR : psgcmd::CASSETTE;
}

// ---- Emulation-side state -----------------------------------------------------------------
struct PsgBus {
  uint8_t regs[16];
  int selected;
};
PsgBus bus{};

// The write ring. `head` counts the records ever published and `tail` those the audio
// side has applied; the newest record is head - 1, the oldest unapplied one tail, and
// the ring is empty when they are equal. Only the producer stores head and only the
// consumer stores tail.
struct WriteRing {
  PsgRecord* records = nullptr;
  std::atomic<uint64_t> head{0};
  std::atomic<uint64_t> tail{0};
  // Producer-private bookkeeping.
  uint64_t last_time = 0;             // time of the newest record (for the spacing)
  bool burst[3] = {};                 // registers 8, 9, 10 in burst mode
  uint64_t burst_last[3] = {NEVER, NEVER, NEVER};
  bool force_timestamps = false;
  // Writes that found the ring full: the newest value per register, queued as soon as
  // there is room again. Transient commands (key clicks, steps) are dropped instead.
  uint32_t fold_mask = 0;
  uint32_t fold_value[FOLD_SLOTS] = {};
  uint64_t folded = 0;
};
WriteRing ring;

// ---- Audio-side state ------------------------------------------------------------------------
constexpr int64_t ONE = 65536;  // synthesiser counters count samples in 1/65536 steps

struct Channel {
  int64_t half;     // half-period
  int64_t counter;
  int flip;         // output flip-flop
  bool tone_on, noise_on, env_mode;
  int amplitude;
};

struct Synth {
  uint8_t regs[16];
  Channel ch[3];
  int64_t noise_period, noise_counter;
  uint32_t noise_shift;
  int noise_out;
  int64_t env_period, env_counter;
  int shape;
  uint64_t env_step;
  int env_outer, env_centre;
  // Conversion factors for the output rate.
  int rate = 44100;
  int us_per_sample = 22;
  // Microseconds since the last applied write (the burst replay's clock).
  uint64_t since_applied;
};
Synth synth{};

std::atomic<int> mute_count{0};

void default_spin_lock(int* word) {
  while (__atomic_exchange_n(word, 1, __ATOMIC_ACQUIRE)) {
    while (__atomic_load_n(word, __ATOMIC_RELAXED)) {
    }
  }
}
void default_spin_unlock(int* word) { __atomic_store_n(word, 0, __ATOMIC_RELEASE); }

void (*spin_lock_fn)(int*) = default_spin_lock;
void (*spin_unlock_fn)(int*) = default_spin_unlock;
uint64_t clock_us = 0;  // guarded by audio_clock_spin

void no_device_lock() {}
void (*device_lock_fn)() = no_device_lock;
void (*device_unlock_fn)() = no_device_lock;

bool timestamps_on() { return ring.force_timestamps || setting(kw::REALTIME) != 0; }

// Queues one record. Returns false when the ring is full (nothing written).
bool push_record(int reg, int value, uint64_t now) {
  const uint64_t head = ring.head.load(std::memory_order_relaxed);
  const uint64_t tail = ring.tail.load(std::memory_order_acquire);
  if (head - tail >= static_cast<uint64_t>(PSG_RING_RECORDS)) return false;

  uint64_t delta = head == 0 ? 0 : now - ring.last_time;
  if (head == 0 || delta > MAX_DELTA_US) {
    ring.last_time = now;
    delta = 0;
  }
  PsgRecord& rec = ring.records[head % PSG_RING_RECORDS];
  rec.reg = reg;
  rec.value = static_cast<uint32_t>(value);

  // Burst detection for the volume registers (sampled sound).
  for (int i = 0; i < 3; ++i) {
    if (ring.burst[i] && ring.burst_last[i] != NEVER && now - ring.burst_last[i] > BURST_END_US)
      ring.burst[i] = false;
  }
  uint32_t rapid = 0;
  if (reg >= 8 && reg <= 10) {
    const int i = reg - 8;
    if (!ring.burst[i] && ring.burst_last[i] != NEVER && now - ring.burst_last[i] < BURST_GAP_US) {
      ring.burst[i] = true;
      if (head > 0) {
        PsgRecord& prev = ring.records[(head - 1) % PSG_RING_RECORDS];
        if (prev.reg == reg) prev.rapid.store(1, std::memory_order_relaxed);
      }
    }
    ring.burst_last[i] = now;
    rapid = ring.burst[i] ? 1 : 0;
  }
  rec.rapid.store(rapid, std::memory_order_relaxed);

  if (timestamps_on()) {
    rec.time = now;
    rec.delta = static_cast<uint32_t>(delta);
  } else {
    rec.time = 0;
    rec.delta = 0;
  }
  ring.last_time = now;
  ring.head.store(head + 1, std::memory_order_release);
  return true;
}

void queue_write(int reg, int value) {
  if (!ring.records) return;
  const uint64_t now = microsecond_counter;
  if (ring.fold_mask) psg_flush_coalesced();
  if (ring.fold_mask == 0 && push_record(reg, value, now)) return;
  // The ring is full (or folded writes still wait, which must stay in order before
  // this one): keep the newest value of registers and the motors, drop clicks.
  const int slot = fold_slot(reg);
  if (slot >= 0) {
    ring.fold_mask |= 1u << slot;
    ring.fold_value[slot] = static_cast<uint32_t>(value);
  }
  ++ring.folded;
}

// ---- Synthesiser ------------------------------------------------------------------------------

// Samples (in 1/65536) for `count` units of 16 µs, and for `count` half-units of 8 µs.
int64_t samples_for_16us(int64_t count) { return count * synth.rate * ONE / 62500; }
int64_t samples_for_8us(int64_t count) { return count * synth.rate * ONE / 125000; }

void set_tone_period(int c) {
  int lo = synth.regs[c * 2];
  const int hi = synth.regs[c * 2 + 1] & 0x0F;
  if (lo == 0 && hi == 0) {  // a period of 0 plays as 1
    lo = 1;
    synth.regs[c * 2] = 1;
  }
  const int period = hi * 256 + lo;
  synth.ch[c].half = samples_for_8us(period);
  if (synth.ch[c].half < 1) synth.ch[c].half = 1;
}

void set_volume(int c, int value) {
  Channel& ch = synth.ch[c];
  ch.env_mode = (value & 0x10) != 0;
  if (ch.env_mode) {
    ch.amplitude = c == 1 ? synth.env_centre : synth.env_outer;
  } else {
    ch.amplitude = c == 1 ? psg_centre_amplitude[value & 15] : psg_outer_amplitude[value & 15];
  }
  if (ch.amplitude == 0) ch.counter = 0;
}

void set_envelope_period() {
  const int period = synth.regs[12] * 256 + synth.regs[11];
  // A period of 0 counts as half a unit.
  synth.env_period = period == 0 ? samples_for_8us(1) : samples_for_16us(period);
  if (synth.env_period < 1) synth.env_period = 1;
}

void apply_register(int reg, int value) {
  if (reg >= 16) {
    fx_command(reg, value);
    return;
  }
  if (reg < 0) return;
  value &= 0xFF;
  synth.regs[reg] = static_cast<uint8_t>(value);
  switch (reg) {
    case 0: case 1: set_tone_period(0); break;
    case 2: case 3: set_tone_period(1); break;
    case 4: case 5: set_tone_period(2); break;
    case 6: {
      const int period = (value & 31) == 0 ? 1 : (value & 31);
      synth.noise_period = samples_for_16us(period);
      if (synth.noise_period < 1) synth.noise_period = 1;
      break;
    }
    case 7:
      for (int c = 0; c < 3; ++c) {
        synth.ch[c].tone_on = (value & (1 << c)) == 0;
        synth.ch[c].noise_on = (value & (8 << c)) == 0;
      }
      break;
    case 8: case 9: case 10: set_volume(reg - 8, value); break;
    case 11: case 12: set_envelope_period(); break;
    case 13:
      synth.shape = value & 15;
      synth.env_step = 0;
      synth.env_counter = 0;
      for (Channel& ch : synth.ch)
        if (ch.env_mode) ch.counter = 0;
      break;
    default: break;  // 14, 15: the I/O port, stored only
  }
}

// Envelope ramp per shape and phase: 0 silent, 1 rising, 2 falling, 3 loud.
constexpr uint8_t ENVELOPE_MODE[16][2] = {
    {2, 0}, {2, 0}, {2, 0}, {2, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0},
    {2, 2}, {2, 0}, {2, 1}, {2, 3}, {1, 1}, {1, 3}, {1, 2}, {1, 0}};

void step_envelope() {
  if (synth.env_counter < synth.env_period) {
    synth.env_counter += ONE;
    return;
  }
  const int level = static_cast<int>(synth.env_step & 15);
  uint64_t phase = synth.env_step >> 4;
  if (phase > 1) {
    if (phase & 1) phase = 1;
    else phase = synth.shape < 8 ? 1 : (synth.shape & 1);
  }
  int out = 0;
  switch (ENVELOPE_MODE[synth.shape][phase]) {
    case 1: out = level; break;
    case 2: out = 15 - level; break;
    case 3: out = 15; break;
    default: out = 0; break;
  }
  synth.env_outer = psg_outer_amplitude[out];
  synth.env_centre = psg_centre_amplitude[out];
  for (int c = 0; c < 3; ++c)
    if (synth.ch[c].env_mode) synth.ch[c].amplitude = c == 1 ? synth.env_centre : synth.env_outer;

  const bool any_env = synth.ch[0].env_mode || synth.ch[1].env_mode || synth.ch[2].env_mode;
  const bool any_tone = synth.ch[0].tone_on || synth.ch[1].tone_on || synth.ch[2].tone_on;
  if (!any_env && !any_tone) {
    synth.env_counter = ONE;  // the envelope stands still while nothing can hear it
    return;
  }
  ++synth.env_step;
  // Restart at one sample past the boundary, keeping the fraction so that the
  // average step length matches the period exactly.
  synth.env_counter -= synth.env_period;
  if (synth.env_counter >= synth.env_period) synth.env_counter = 0;
  synth.env_counter += ONE;
}

void step_noise() {
  if (synth.noise_counter < synth.noise_period) {
    synth.noise_counter += ONE;
    return;
  }
  const uint32_t old = synth.noise_shift;
  const uint32_t b13 = (old >> 13) & 1, b16 = (old >> 16) & 1;
  const uint32_t in = 1u ^ b13 ^ b16;
  synth.noise_shift = ((old << 1) & 0x1FFFF) | in;
  synth.noise_out = static_cast<int>(in);
  synth.noise_counter -= synth.noise_period;
  if (synth.noise_counter >= synth.noise_period) synth.noise_counter = 0;
  synth.noise_counter += ONE;
}

int channel_output(Channel& ch) {
  int out = ch.tone_on ? (ch.flip ? ch.amplitude : 0) : ch.amplitude;
  if (ch.noise_on && synth.noise_out == 0) out = 0;
  if (ch.counter >= ch.half) {
    ch.flip ^= 1;
    ch.counter -= ch.half;
    if (ch.counter >= ch.half) ch.counter = 0;  // at most one edge per sample
  }
  ch.counter += ONE;
  return out;
}

// Advances the audio clock position of the application rule to `clock`, `elapsed`
// microseconds after the previous output frame, and applies what is due.
void apply_due(uint64_t clock, uint64_t elapsed) {
  synth.since_applied += elapsed;
  if (!ring.records) return;
  uint64_t tail = ring.tail.load(std::memory_order_relaxed);
  const uint64_t head = ring.head.load(std::memory_order_acquire);
  if (tail == head) return;

  const PsgRecord& oldest = ring.records[tail % PSG_RING_RECORDS];
  const PsgRecord& newest = ring.records[(head - 1) % PSG_RING_RECORDS];
  const bool burst = oldest.rapid.load(std::memory_order_relaxed) ||
                     newest.rapid.load(std::memory_order_relaxed);
  const bool due = burst ? synth.since_applied + static_cast<uint64_t>(synth.us_per_sample) / 4 >= oldest.delta
                         : oldest.time <= clock;
  if (!due) return;

  apply_register(oldest.reg, static_cast<int>(oldest.value));
  ++tail;
  while (tail != head) {
    const PsgRecord& next = ring.records[tail % PSG_RING_RECORDS];
    if (!next.rapid.load(std::memory_order_relaxed) || next.delta > BURST_JOIN_US) break;
    apply_register(next.reg, static_cast<int>(next.value));
    ++tail;
  }
  ring.tail.store(tail, std::memory_order_release);
  synth.since_applied = 0;
}

void clear_synth() {
  std::memset(synth.regs, 0, sizeof synth.regs);
  for (Channel& ch : synth.ch) ch = Channel{0, 0, 1, false, false, false, 0};
  synth.regs[7] = 0x3F;
  synth.noise_counter = 0;
  synth.noise_shift = 0xFFFF;
  synth.noise_out = 0;
  synth.env_counter = 0;
  synth.shape = 0;
  synth.env_step = 0;
  synth.env_outer = synth.env_centre = 0;
  synth.since_applied = 0;
  for (int c = 0; c < 3; ++c) set_tone_period(c);  // period 0 reads as 1
  apply_register(6, 0);
  apply_register(7, 0x3F);
  set_envelope_period();
}

}  // namespace

// ---- Emulation side ----------------------------------------------------------------------------

void psg_write(int reg, int value) {
  if (reg >= 0 && reg < 16) bus.regs[reg] = static_cast<uint8_t>(value);
  queue_write(reg, value);
}

uint8_t psg_read(int reg) { return bus.regs[reg & 15]; }
void psg_store(int reg, int value) { bus.regs[reg & 15] = static_cast<uint8_t>(value); }
void psg_select(int reg) { bus.selected = reg & 15; }
int psg_selected() { return bus.selected; }

void psg_reset(ResetKind kind) {
  if (kind != ResetKind::POWER_ON) return;
  // The machine reset also resets the audio side: empty ring, synthesiser cleared,
  // audio clock at the (reset) emulated time. The register values follow as writes.
  audio_reset(true);
  for (int r = 0; r < 16; ++r) psg_write(r, 0);
  psg_write(14, 255);
  bus.selected = 0;
}

void psg_save(uint8_t* out) {
  out[0] = static_cast<uint8_t>(bus.selected);
  std::memcpy(out + 1, bus.regs, 16);
}

void psg_load(const uint8_t* in) {
  for (int r = 0; r < 16; ++r) psg_write(r, in[1 + r]);
  bus.selected = in[0] & 15;
}

int psg_save(std::ostream& out) {
  uint8_t block[PSG_BLOCK_SIZE];
  psg_save(block);
  out.write(reinterpret_cast<const char*>(block), PSG_BLOCK_SIZE);
  return out ? 0 : 1;
}

int psg_load(std::istream& in) {
  uint8_t block[PSG_BLOCK_SIZE];
  in.read(reinterpret_cast<char*>(block), PSG_BLOCK_SIZE);
  if (in.gcount() != PSG_BLOCK_SIZE) return 1;
  psg_load(block);
  return 0;
}

void psg_dump(std::ostream& out) {
  char line[128];
  std::snprintf(line, sizeof line, "PSG :  current addr = %02X\n", bus.selected);
  out << line << "PSG :  register";
  for (int r = 0; r < 16; ++r) {
    std::snprintf(line, sizeof line, " %02X", r);
    out << line;
  }
  out << "\nPSG :  value   =";
  for (int r = 0; r < 16; ++r) {
    std::snprintf(line, sizeof line, " %02X", bus.regs[r]);
    out << line;
  }
  out << '\n';
}

// ---- Ring ----------------------------------------------------------------------------------------

void psg_ring_allocate() {
  if (!ring.records) ring.records = new PsgRecord[PSG_RING_RECORDS]();
  ring.head.store(0, std::memory_order_relaxed);
  ring.tail.store(0, std::memory_order_relaxed);
  ring.fold_mask = 0;
}

void psg_ring_release() {
  delete[] ring.records;
  ring.records = nullptr;
  ring.head.store(0, std::memory_order_relaxed);
  ring.tail.store(0, std::memory_order_relaxed);
  ring.fold_mask = 0;
}

bool psg_ring_allocated() { return ring.records != nullptr; }

int psg_ring_pending() {
  return static_cast<int>(ring.head.load(std::memory_order_relaxed) -
                          ring.tail.load(std::memory_order_acquire));
}

uint64_t psg_ring_coalesced() { return ring.folded; }

void psg_flush_coalesced() {
  if (!ring.records) return;
  const uint64_t now = microsecond_counter;
  while (ring.fold_mask) {
    const int slot = __builtin_ctz(ring.fold_mask);
    if (!push_record(fold_register(slot), static_cast<int>(ring.fold_value[slot]), now)) return;
    ring.fold_mask &= ~(1u << slot);
  }
}

void psg_force_timestamps(bool on) { ring.force_timestamps = on; }

// ---- Audio side ------------------------------------------------------------------------------------

namespace {
int audio_clock_spin = 0;  // the lock word of audio_lock_clock
}  // namespace

void psg_set_output_rate(int rate) {
  if (rate < 1000) rate = 44100;
  synth.rate = rate;
  synth.us_per_sample = 1000000 / rate;
  // Periods in samples depend on the rate.
  for (int c = 0; c < 3; ++c) set_tone_period(c);
  apply_register(6, synth.regs[6]);
  set_envelope_period();
}

int psg_output_rate() { return synth.rate; }
int psg_us_per_sample() { return synth.us_per_sample; }

void audio_set_spin_lock(void (*lock)(int*), void (*unlock)(int*)) {
  spin_lock_fn = lock ? lock : default_spin_lock;
  spin_unlock_fn = unlock ? unlock : default_spin_unlock;
}
void audio_lock_clock() { spin_lock_fn(&audio_clock_spin); }
void audio_unlock_clock() { spin_unlock_fn(&audio_clock_spin); }

void audio_clock_set(uint64_t us) {
  audio_lock_clock();
  clock_us = us;
  audio_unlock_clock();
}

uint64_t audio_clock() {
  audio_lock_clock();
  const uint64_t v = clock_us;
  audio_unlock_clock();
  return v;
}

void audio_set_device_lock(void (*lock)(), void (*unlock)()) {
  device_lock_fn = lock ? lock : no_device_lock;
  device_unlock_fn = unlock ? unlock : no_device_lock;
}

void audio_reset(bool full) {
  // The audio thread may be running (machine reset while playing): hold it off.
  device_lock_fn();
  audio_clock_set(microsecond_counter);
  // Empty the ring: every record written so far counts as applied.
  ring.tail.store(ring.head.load(std::memory_order_relaxed), std::memory_order_release);
  ring.fold_mask = 0;
  if (full) {
    clear_synth();
    for (int i = 0; i < 3; ++i) {
      ring.burst[i] = false;
      ring.burst_last[i] = NEVER;
    }
    fx_stop_all();
  }
  device_unlock_fn();
}

void psg_render_sample(int& left, int& right) {
  if (mute_count.load(std::memory_order_relaxed) != 0) {
    left = right = 0;
    return;
  }
  step_noise();
  step_envelope();
  const int c = channel_output(synth.ch[2]);
  const int a = channel_output(synth.ch[0]);
  const int b = channel_output(synth.ch[1]);
  left = (a + b) >> 1;
  right = (c + b) >> 1;
}

void psg_apply_due_writes() {
  if (mute_count.load(std::memory_order_relaxed) != 0) return;
  audio_lock_clock();
  clock_us += static_cast<uint64_t>(synth.us_per_sample);
  const uint64_t clock = clock_us;
  audio_unlock_clock();
  apply_due(clock, static_cast<uint64_t>(synth.us_per_sample));
}

// The headless renderer sets the clock to each sample's exact emulated time.
void psg_apply_due_writes_at(uint64_t clock, uint64_t elapsed) {
  if (mute_count.load(std::memory_order_relaxed) != 0) return;
  audio_lock_clock();
  clock_us = clock;
  audio_unlock_clock();
  apply_due(clock, elapsed);
}

void audio_mute() { mute_count.fetch_add(1, std::memory_order_relaxed); }
void audio_unmute() {
  int n = mute_count.load(std::memory_order_relaxed);
  while (n > 0 && !mute_count.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
}
int audio_mute_count() { return mute_count.load(std::memory_order_relaxed); }
void audio_set_mute_count(int n) { mute_count.store(n < 0 ? 0 : n, std::memory_order_relaxed); }

PsgSynthView psg_synth_view() {
  PsgSynthView v{};
  std::memcpy(v.regs, synth.regs, 16);
  for (int c = 0; c < 3; ++c) {
    v.half_period[c] = synth.ch[c].half;
    v.amplitude[c] = synth.ch[c].amplitude;
    v.tone_on[c] = synth.ch[c].tone_on;
    v.noise_on[c] = synth.ch[c].noise_on;
    v.env_mode[c] = synth.ch[c].env_mode;
  }
  v.noise_period = synth.noise_period;
  v.noise_shift = synth.noise_shift;
  v.envelope_period = synth.env_period;
  v.shape = synth.shape;
  v.envelope_step = synth.env_step;
  return v;
}
