// Fuzz target: a WAV recording read into a tape signal, then played into the deck through the
// PPI for a while, winding to every block. The reader may refuse the input, but every
// signal it returns must play without fault.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "fuzz_support.h"
#include "fuzz_tape_play.h"
#include "media/tape_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  TapeSignal signal;
  std::string error;
  if (!tape_read_wav(data, size, signal, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  fuzz_play_signal(std::move(signal));
  return 0;
}
