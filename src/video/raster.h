// The CRTC 6845 and the raster engine: the clock of the emulated CPC.
//
// The engine advances one microsecond (one CRTC character clock) at a time. Each step
// moves the CRTC counters, writes 16 pixels of one monitor line into the frame buffer,
// hands the syncs to the Gate Array's 52-line interrupt counter and runs the monitor's
// hold model. The Z80
// execute loop hands it every instruction's duration through `video_advance`; the
// engine then performs the instruction's deferred IN/OUT at the right microsecond,
// offers a pending interrupt and, once per frame, does the frame-end work through the
// host hooks of core/host.h.
#pragma once
#include <cstdint>
#include <iosfwd>
#include "config/settings.h"  // ResetKind

// ---- Processor clock -------------------------------------------------------------------
// Called after every instruction (T-states, signed adjustment, the processor's wait word
// and refresh counter). Returns the microseconds still owed: 0 normally; in microsecond
// single-step mode (stopbit::STEP) a positive count until the instruction is used up.
// Instructions the processor counted against the clock's credit (z80/z80_bus.h) are run
// first, at the next call.
int video_advance(int tstates, int adjustment, uint32_t& wait, uint32_t& refresh);

// Lets video time pass while the processor stands (disc and tape waits): runs the step
// `microseconds` times, without port accesses, interrupt delivery or frame-end work.
void video_run(int microseconds);

// POWER_ON: reset of all raster and CRTC state; APPLY_SETTINGS: re-reads the frame
// timing settings only.
void video_reset(ResetKind kind);

// Emulated microseconds since reset (one per step). Time-stamps sound writes. Exported
// as a variable because the processor loop, the sound chip and the keyboard scan read it
// on every access of theirs; only the raster step advances it.
extern uint64_t microsecond_counter;
// Counter value at the last frame end.
uint64_t frame_start_time();

// Frame-timing copies taken at every reset (REALTIME, INTERRUPT_RESUME, VSYNC_POSITION).
void video_apply_timing_settings();
// While held, frame ends do not wait for real time even with REALTIME (fast tape loading).
void video_hold_throttle(bool hold);

// ---- Gate Array output ---------------------------------------------------------------------
// The Gate Array (video/gate_array.h) tells the engine what changed: a pen's ink (shown
// from the next µs) and a newly written mode (pending until the next HSYNC start).
void raster_pen_colour_changed(int pen);
void raster_mode_pending(int mode);
// Palette entries from the Gate Array's inks after the host colour table changed.
void video_refresh_palette();

// Video RAM as the raster engine sees it: four 16 KB blocks of the base 64 KB.
void video_map_block(int index, uint8_t* block);
const uint8_t* video_ram_block(int index);

// ---- CRTC ------------------------------------------------------------------------------------
// Register numbers of the 6845.
namespace crtc_reg {
constexpr int HTOTAL = 0;          // last character of a scan line
constexpr int HDISPLAYED = 1;      // characters shown per line
constexpr int HSYNC_POSITION = 2;
constexpr int SYNC_WIDTHS = 3;     // HSYNC width (low nibble), VSYNC width (type 0, high nibble)
constexpr int VTOTAL = 4;          // last character row
constexpr int VTOTAL_ADJUST = 5;   // extra scan lines
constexpr int VDISPLAYED = 6;      // character rows shown
constexpr int VSYNC_POSITION = 7;  // character row
constexpr int INTERLACE_SKEW = 8;
constexpr int MAX_RASTER = 9;      // last scan line of a character row
constexpr int START_HIGH = 12;     // display start address
constexpr int START_LOW = 13;
}  // namespace crtc_reg

// Register write with its side effects (registers 0..13; others are ignored).
void crtc_write_register(int reg, int value);
// The stored (masked) value of register 0..13 as the engine uses it; 0 for others.
// R3 gives the HSYNC width (16 on type 2 for width 0), R8 the raw skew/interlace bits.
int crtc_register(int reg);
// The CRTC type in effect (0, 1 or 2).
int crtc_type();

// Port side of the CRTC (ports BCxx..BFxx): register select, a write to the selected
// register (kept in the read-back copy for registers 0..15 and 31), the read and status
// ports as the CRTC type of the `CRTC_TYPE` setting answers them.
void crtc_select(int reg);
int crtc_selected();
void crtc_write(uint8_t value);
uint8_t crtc_read_register();
uint8_t crtc_read_status();
// The read-back copy of register r (0..31), as written through the port.
uint8_t crtc_copy(int reg);
// Snapshot block of the CRTC: selected register and registers 0..17 (19 bytes).
constexpr int CRTC_BLOCK_SIZE = 19;
void crtc_save(uint8_t* out);
void crtc_load(const uint8_t* in);
int crtc_save(std::ostream& out);
int crtc_load(std::istream& in);
// Writes 0 to registers 0..17; copy of 0..15 zero, 16..17 0xFF; register 0 selected.
void crtc_reset();

// True while the CRTC's VSYNC output is active (PPI port B bit 0).
bool vsync_active();
// True while the CRTC is inside the vertical display (status bit 5 on type 1 is its inverse).
bool vertical_display_on();

// The beam goes to the top of a new monitor frame.
void frame_restart();

// ---- Snapshot block of the raster engine (30 bytes) -----------------------------------------
constexpr int RASTER_BLOCK_SIZE = 30;
void raster_save(uint8_t* out);
void raster_load(const uint8_t* in);
int raster_save(std::ostream& out);
int raster_load(std::istream& in);

// Two lines for the debugger: counters and beam.
void crtc_dump(std::ostream& out);

// ---- Frame buffer ----------------------------------------------------------------------------
constexpr int FRAME_WIDTH = 768;
constexpr int FRAME_HEIGHT = 544;
constexpr int FRAME_PIXELS = FRAME_WIDTH * FRAME_HEIGHT;
// RGB565; monitor line y is row 2y (odd rows stay as the display output left them).
// Exported as a variable because the raster step writes every pixel into it; the
// host and the screenshot code only read it.
extern uint16_t frame_buffer[FRAME_PIXELS];
void clear_frame_buffer();

// Display bounds of a frame (beam units for x, monitor lines for y).
struct DisplayBounds {
  int first_x;     // x where the horizontal display first began
  int first_line;  // y at the CRTC frame restart
  int last_line;   // y where the vertical display ended
  int last_x;      // x where the horizontal display last ended
};
// The bounds of the previous complete frame (the display output's border crop).
const DisplayBounds& previous_display_bounds();
// Interlace field 0 or 1.
int interlace_field();

// Number of monitor frames rendered since reset (tests and the headless runner).
uint64_t frames_rendered();

// ---- Debugger --------------------------------------------------------------------------------
// When the microsecond counter reaches `at`, the engine disarms it and raises 0x24000.
void video_arm_break(uint64_t at);
void video_disarm_break();
bool video_break_armed();

// ---- Raw state for tests and the debugger ----------------------------------------------------
struct BeamState {
  int x, y;          // beam position (x in 8 units per character)
  int hcc, vcc, rc;  // horizontal, row and raster counters
  int vadj;          // vertical-adjust counter
  bool in_adjust;
  int ma;            // memory address counter
  bool hsync, hde, vde;
  int hsync_count, vsync_count, vsync_state;
  int vertical_hold;
  int line_end;      // monitor line-end position
  int pixel_offset;
};
BeamState beam_state();

// The engine runs stretches without events in a fast loop; off, every microsecond takes
// the full step (tests compare both; results must be identical).
void video_set_fast_path(bool on);
