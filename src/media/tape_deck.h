// The cassette deck: a tape image played into the CPC and the CPC's SAVE recorded.
//
// The image's signal (media/tape_image.h) plays while PLAY is down and the CPC's motor
// line (PPI port C bit 4) is on; the CPC reads it on PPI port B bit 7. The position is
// brought up to date lazily, from the emulated microsecond counter, whenever the signal
// is read or the motor switches, so nothing runs per microsecond. While the motor runs,
// every change of the write line (port C bit 5) is recorded; when the motor stops the
// recording so far is written as a CDT image (a CSW image when the deck's file name ends
// in .csw): under the name of a blank tape, else beside the image as "name-N.cdt" with
// the first N not taken, so the image being played is never overwritten.
//
// With a tape in the deck the firmware's own cassette routines run (the tape bypass is
// switched off for the machine); with none, the bypass is as configured.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/tape_image.h"

// Puts the image at path (also a member of a ZIP archive) into the deck, rewound with
// PLAY down. A path that does not exist is a blank tape: it is only recorded onto.
// False with a message in `error` when the file is not a readable tape image (the deck
// is then left as it was).
bool tape_deck_insert(const char* path, std::string& error);
// The same with a signal made elsewhere (tests); `name` is where recordings go.
void tape_deck_insert_signal(TapeSignal signal, const std::string& name);
// Writes what was recorded and empties the deck.
void tape_deck_eject();
bool tape_deck_loaded();

// The deck's keys. Winding moves to the start of a block of the block list.
void tape_deck_play();
void tape_deck_stop();
void tape_deck_rewind();
bool tape_deck_wind_to_block(size_t block);

// ---- The PPI's lines ----------------------------------------------------------------------
// The level the CPC reads (port B bit 7) at the current microsecond.
bool tape_deck_read();
// Port C bits 4 (motor) and 5 (write data) as they are now; called on every port C change.
void tape_deck_port_c(uint8_t port_c);

// ---- State for the program's windows and the run loop --------------------------------------
struct TapeDeckStatus {
  bool loaded;
  bool playing;     // PLAY is down
  bool motor;       // the CPC's motor line is on
  bool recording;   // the CPC has written to the tape since the motor started
  size_t block;     // the block under the head (index into the block list)
  uint64_t position_ticks;
  uint64_t length_ticks;
  std::string name;        // the image file
  std::string written;     // the last recording file written, or empty
};
TapeDeckStatus tape_deck_status();
// The tape moves: the motor runs and the deck plays or the CPC records (the tape light).
bool tape_deck_active();
// The block list of the image in the deck.
const TapeSignal& tape_deck_signal();

// Fast loading: while the tape plays into a running motor, frames do not wait for real
// time. On by default.
void tape_deck_set_fast_loading(bool on);
bool tape_deck_fast_loading();

// ---- Set-up hooks --------------------------------------------------------------------------
// The operating system ROM as loaded (before the bypass patches it), kept so that a tape
// put in later can switch the bypass off again; model is the hardware model.
void tape_deck_note_os_rom(uint8_t* rom, int model);
// True when the bypass should be in effect: TAPE_BYPASS set and no tape in the deck.
bool tape_bypass_wanted();
// Teardown: what was recorded is written; the kept ROM is forgotten (its memory goes).
void tape_deck_teardown();
