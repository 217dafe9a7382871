// Fuzz target: a WAV recording read into a tape signal and played through the deck.
#include "fuzz_tape_play.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_tape_reader(tape_read_wav, data, size);
}
