// The stored drive and machine sounds (RIFF WAV data), in the order of FxRecording.
#pragma once
#include <cstddef>
#include <cstdint>

struct FxWavData {
  const uint8_t* data;
  size_t size;
};
extern const FxWavData fx_wav_table[9];
