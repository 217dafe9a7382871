// The Gate Array: pens and inks, the screen mode, the ROM enables, the RAM configuration
// and the 52-line interrupt counter.
//
// The port decoder hands it the processor's writes (`ga_write`); the raster engine feeds
// it the CRTC's sync signals (`ga_hsync_end`, `ga_vsync_started`), asks it for the
// interrupt and draws with its inks and mode. It sits in the video unit beside the
// raster engine, below the memory map: its ROM-enable and RAM-configuration lines reach
// the memory map through the connection the port decoder makes at start.
#pragma once
#include <cstdint>
#include <iosfwd>

constexpr int GA_PENS = 17;       // pens 0..15 and the border
constexpr int GA_BORDER_PEN = 16;

struct GateArray {
  int pen;                  // selected pen 0..16 (16 = border)
  uint8_t ink[GA_PENS];     // hardware colour per pen: the one ink table of the machine
  uint8_t multi;            // last mode/ROM byte
  int mode;                 // screen mode last written 0..3 (shown from the next HSYNC start)
  int mode_shown;           // screen mode whose pixels the raster engine draws now
  uint8_t ram_config;       // last RAM configuration byte (6 bits)
  int interrupt_counter;    // scan lines counted at HSYNC ends, 0..63
  bool interrupt_pending;   // the interrupt waits for the processor
  int resync_delay;         // HSYNC ends still to wait after a VSYNC start (-1 idle)
};
const GateArray& gate_array();

// ---- Processor side (the port decoder) -------------------------------------------------------
// One write to the Gate Array (pen select, ink, mode and ROM enables, RAM configuration).
void ga_write(uint8_t value);
// Pen 0..15 or 16 (border) takes hardware colour 0..31; it shows from the next µs.
void ga_set_ink(int pen, int colour);
// The screen mode 0..3 becomes pending; it takes effect at the next HSYNC start (or at
// once during the first 7 µs of a running HSYNC).
void ga_set_mode(int mode);
// Power-on state: inks 0, pen 0, lower ROM on, mode 1, RAM configuration 0, counter 0.
void ga_reset();

// The lines to the memory map: ROM enables (bit 0 lower ROM off, bit 1 upper ROM off), the
// RAM configuration, and every byte written, which a paged RAM expansion on the same port
// also reads. Unconnected, they go nowhere.
struct GateArrayMemoryLines {
  void (*rom_enables)(int state);
  void (*ram_config)(int config);
  void (*byte_written)(uint8_t value);
};
void ga_connect_memory(const GateArrayMemoryLines& lines);

// Snapshot block: pen, 17 inks, mode/ROM byte, RAM configuration (20 bytes).
constexpr int GA_BLOCK_SIZE = 20;
void ga_save(uint8_t* out);
void ga_load(const uint8_t* in);
int ga_save(std::ostream& out);  // 0, or 1 when the stream failed
int ga_load(std::istream& in);   // 0, or 1 when the block was short (nothing loaded)
// "GA  :  inknum = .., multi = .., mode = ., ramconf = .." and the 17 inks.
void ga_dump(std::ostream& out);

// ---- Interrupt counter ---------------------------------------------------------------------
// Counter to 0, pending interrupt cleared (bit 4 of a mode/ROM write).
void ga_reset_interrupt();
// True while the Gate Array holds an interrupt for the processor.
bool ga_interrupt_pending();
// The 6-bit scan-line counter.
int ga_interrupt_counter();
// What the processor's acceptance does: pending cleared, counter bit 5 cleared (so the
// next interrupt comes 52 - (counter & 31) lines later).
void ga_acknowledge_interrupt();
// Counter, pending flag and resynchronisation delay as a snapshot or a reset gives them.
void ga_set_interrupt_state(int counter, bool pending, int resync_delay);

// ---- Raster side (the raster engine) --------------------------------------------------------
// A HSYNC ended: one scan line counted; every 52 lines, and at the resynchronisation after
// a VSYNC, the interrupt becomes pending.
void ga_hsync_end();
// A VSYNC started: the counter resynchronises after `delay` HSYNC ends.
void ga_vsync_started(int delay);
// The raster engine put the pending mode in effect (at a HSYNC start).
void ga_pending_mode_shown();
// The screen mode in effect (0..3).
int ga_screen_mode();
