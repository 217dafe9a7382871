// Z80 core speed: instructions per second running the zexdoc exerciser on the bare core
// with the stub clock of the CP/M runner (no CPC hardware, no video).
//
//   cmake --build build --target bench_z80 && build/bin/bench_z80
//
// Each iteration runs the first 20 million instructions of zexdoc; the figure is the
// "items_per_second" counter.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "../tools/cpm_machine.h"

namespace {
std::string zexdoc_path() {
  const char* dir = std::getenv("ARVELO_TESTDATA");
  return std::string(dir && *dir ? dir : ARVELO_TESTDATA_DEFAULT) + "/z80/zexdoc.com";
}

void BM_Z80_Zexdoc(benchmark::State& state) {
  const uint64_t per_iteration = 20'000'000;
  static FILE* null_output = std::fopen("/dev/null", "w");
  uint64_t total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error = cpm::load(zexdoc_path().c_str(), null_output);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
    cpm::machine.limit = per_iteration;
    state.ResumeTiming();
    cpm::run();
    total += cpm::machine.instructions;
  }
  state.SetItemsProcessed(int64_t(total));
}
BENCHMARK(BM_Z80_Zexdoc)->Unit(benchmark::kMillisecond);
}  // namespace
