// Measures the model work of one panel refresh: the table of a shape, the picture with its four
// readouts, and the texts of the three fields. A measurement, not a test: build it natively and
// run it by hand (build/native/tools/measure/signal_refresh_benchmark).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <iterator>

#include "preview/preview_model.h"
#include "signal/format.h"
#include "signal/settings.h"
#include "signal/wavetable.h"

namespace {

// Settings that change with every iteration, so that no text or table is the same twice running.
void VarySettings(GeneratorSettings *settings, uint32_t step) {
  settings->frequencyCode = static_cast<uint16_t>(7 + step % 65529);
  settings->offsetCode = static_cast<uint8_t>(step % 63);
  settings->amplitudeCode = static_cast<uint16_t>(255 + step % 32513);
  settings->jumperIndex = static_cast<int32_t>(step % 4);
}

// What the refresh and the field writes work out, short of the drawing itself.
void Refresh(const GeneratorSettings &settings, uint16_t aSamples[kWaveTableSamples]) {
  BuildWaveTable(aSamples, settings.waveformIndex, settings.amplitudeCode, settings.dutyPercent);
  PreviewModel model =
      BuildPreviewModel(aSamples, settings.spwIndex, 0, settings.amplitudeCode, settings.offsetCode,
                        settings.jumperIndex, settings.frequencyCode);
  benchmark::DoNotOptimize(model);
  char szText[349];
  FormatSignificant(FrequencyFromCode(settings.frequencyCode, settings.spwIndex), 8, szText,
                    std::size(szText));
  FormatSignificant(OffsetFromCode(settings.offsetCode, settings.jumperIndex), 3, szText,
                    std::size(szText));
  FormatSignificant(AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex), 3, szText,
                    std::size(szText));
  benchmark::DoNotOptimize(szText);
}

// One refresh as the panel does it, for each shape.
void BM_Refresh(benchmark::State &state) {
  uint16_t aSamples[kWaveTableSamples];
  GeneratorSettings settings;
  settings.waveformIndex = static_cast<int32_t>(state.range(0));
  uint32_t step = 0;
  for (auto _ : state) {
    VarySettings(&settings, step);
    Refresh(settings, aSamples);
    step += 7919;
  }
}
BENCHMARK(BM_Refresh)->DenseRange(0, 6);

}  // namespace

BENCHMARK_MAIN();
