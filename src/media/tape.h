// Tape bypass: the firmware's cassette routines are patched to trap into the emulator,
// which performs LOAD, SAVE, RUN and CAT on host files in TAPE_PATH.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "config/settings.h"  // ResetKind

// Writes the trap sequence ED FC nn C9 at the start of the 14 cassette routines of the
// operating system ROM image, found through the ROM's own jumpblock copy for the model.
// False, with the image untouched, when the image is not that model's firmware.
bool tape_patch_rom(uint8_t* rom, int model);

// The ROM trap ED xx nn: code = (xx << 8) | nn.
void tape_trap(int code);

// Closes both tape files (teardown, reset of the cassette state).
void tape_close();
void tape_reset(ResetKind kind);

struct TapeInput {
  FILE* file = nullptr;
  uint8_t header[128] = {};
  int64_t remaining = 0;  // data bytes still to read
  int flags = 0;          // bit 0 open, bit 1 read directly
  int pushed_back = -1;   // character returned by 0x86, read again first
};

struct TapeOutput {
  FILE* file = nullptr;
  uint8_t header[128] = {};
  int64_t written = 0;
  int flags = 0;          // bit 0 open, bit 1 written directly, bit 2 header written
};


// AMSDOS header helpers (also used by the catalog).
uint16_t tape_header_checksum(const uint8_t* header);
// One catalog line per file of the directory: name, type and length.
std::vector<std::string> tape_catalog(const std::string& directory);
