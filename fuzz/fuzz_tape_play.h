// Shared by the tape image fuzz targets: the input read into a tape signal by one reader,
// then played into the deck through the PPI for a while, winding to every block. The
// reader may refuse the input (always saying why), but every signal it returns must play
// without fault.
#pragma once
#include <cstdlib>
#include <string>
#include <utility>

#include "fuzz_support.h"
#include "hardware/keyboard.h"
#include "media/tape_deck.h"
#include "media/tape_image.h"
#include "video/raster.h"

inline void fuzz_play_signal(TapeSignal signal) {
  for (const TapeBlockInfo& b : signal.blocks)
    if (b.first_segment > signal.segments.size()) std::abort();
  for (size_t s : signal.stops)
    if (s > signal.segments.size()) std::abort();
  const size_t blocks = signal.blocks.size();
  tape_deck_insert_signal(std::move(signal), "/nonexistent/fuzz.cdt");
  ppi_write(2, 0x10);  // motor on
  for (size_t b = 0; b <= blocks && b < 64; ++b) {
    tape_deck_wind_to_block(b);
    tape_deck_play();
    for (int i = 0; i < 200; ++i) {
      microsecond_counter += 37 + i * 13;
      ppi_read(1);
    }
  }
  ppi_write(2, 0x00);
  tape_deck_eject();
}

using TapeReader = bool (*)(const uint8_t*, size_t, TapeSignal&, std::string&);

inline int fuzz_tape_reader(TapeReader read, const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  TapeSignal signal;
  std::string error;
  if (read(data, size, signal, error)) {
    fuzz_play_signal(std::move(signal));
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
