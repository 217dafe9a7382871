// Port decoding and banking speed: the OUTs and INs the CPC firmware and games issue most.
//
//   cmake --build build --target bench_hardware && build/bin/bench_hardware
//
// Figures are "items_per_second" (port accesses per second).
#include <benchmark/benchmark.h>

#include <cstring>

#include "config/settings.h"
#include "core/machine.h"
#include "hardware/keyboard.h"
#include "hardware/memory.h"
#include "hardware/ports.h"
#include "sound/psg.h"
#include "video/raster.h"

namespace {

// A 128 KB CPC with an OS ROM, BASIC and a disc ROM, every unit reset.
void build_machine() {
  static bool built = false;
  if (built) return;
  built = true;
  reset_settings();
  set_setting(kw::CPC_TYPE, model::CPC6128);
  add_rom(255, "os.rom", 0);
  add_rom(0, "basic.rom", 0);
  add_rom(7, "disc.rom", 0);
  memory_lay_out(128);
  memory_init(128, bank_of_slot(0), bank_of_slot(255));
  machine_attach_units();
  video_reset(ResetKind::POWER_ON);
  psg_reset(ResetKind::POWER_ON);
  ports_reset(ResetKind::POWER_ON);
  keyboard_reset(ResetKind::POWER_ON);
}

// RAM configuration and ROM switching through the Gate Array, as bank-switching code does.
void BM_GateArrayBanking(benchmark::State& state) {
  build_machine();
  static const uint8_t values[] = {0xC4, 0x89, 0xC5, 0x8D, 0xC0, 0x81, 0xC7, 0x85};
  uint64_t n = 0;
  for (auto _ : state) {
    for (uint8_t v : values) port_out(0x7F00, v);
    benchmark::DoNotOptimize(read_bank[1]);
    n += sizeof values;
  }
  state.SetItemsProcessed(static_cast<int64_t>(n));
}
BENCHMARK(BM_GateArrayBanking);

// The firmware's keyboard scan: ten rows through the PSG's register 14.
void BM_KeyboardScan(benchmark::State& state) {
  build_machine();
  uint64_t n = 0;
  for (auto _ : state) {
    port_out(0xF700, 0x82);
    port_out(0xF400, 14);
    port_out(0xF600, 0xC0);
    port_out(0xF600, 0x00);
    port_out(0xF700, 0x92);
    for (int row = 0; row < 10; ++row) {
      port_out(0xF600, static_cast<uint8_t>(0x40 | row));
      benchmark::DoNotOptimize(port_in(0xF400));
    }
    port_out(0xF700, 0x82);
    n += 17;
  }
  state.SetItemsProcessed(static_cast<int64_t>(n));
}
BENCHMARK(BM_KeyboardScan);

// Addresses that miss the high-byte table and go through the line-by-line decoder.
void BM_LineDecodedPorts(benchmark::State& state) {
  build_machine();
  uint64_t n = 0;
  for (auto _ : state) {
    port_out(0x7E00, 0x10);
    port_out(0x3D00, 0x00);
    benchmark::DoNotOptimize(port_in(0xF27E));
    benchmark::DoNotOptimize(port_in(0xB200));
    n += 4;
  }
  state.SetItemsProcessed(static_cast<int64_t>(n));
}
BENCHMARK(BM_LineDecodedPorts);

}  // namespace
