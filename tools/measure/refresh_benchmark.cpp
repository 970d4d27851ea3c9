// Measures the model work of one panel refresh: every table shape and the texts of the three
// fields and the four readouts. A measurement, not a test: build it natively and run it by hand.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <iterator>

#include "signal/format.h"
#include "signal/settings.h"
#include "signal/wavetable.h"

namespace {

// The three field texts as the panel writes them, then the four readouts.
void RefreshTexts(const GeneratorSettings &settings) {
  char szChDlgTmp[349];
  double hertz = FrequencyFromCode(settings.frequencyCode, settings.spwIndex);
  double offset = OffsetFromCode(settings.offsetCode, settings.jumperIndex);
  double vpp = AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex);
  FormatSignificant(hertz, 8, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  FormatSignificant(offset, 3, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  FormatSignificant(vpp, 3, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  FormatSignificant(vpp / 2.0 + offset, 3, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  FormatSignificant(offset, 3, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  FormatSignificant(offset - vpp / 2.0, 3, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
  double period = 1.0 / FrequencyFromCode(settings.frequencyCode, settings.spwIndex);
  FormatSignificant(period * 1000, 4, szChDlgTmp, std::size(szChDlgTmp));
  benchmark::DoNotOptimize(szChDlgTmp);
}

// One refresh per shape (seven tables) with the texts, at settings that vary per iteration.
void BM_RefreshAllShapes(benchmark::State &state) {
  uint16_t aSamples[kWaveTableSamples];
  GeneratorSettings settings;
  uint32_t step = 0;
  for (auto _ : state) {
    settings.frequencyCode = static_cast<uint16_t>(7 + step % 65529);
    settings.offsetCode = static_cast<uint8_t>(step % 63);
    settings.amplitudeCode = static_cast<uint16_t>(255 + step % 32513);
    settings.jumperIndex = static_cast<int32_t>(step % 4);
    for (int32_t shape = 0; shape <= 6; shape++) {
      BuildWaveTable(aSamples, shape, settings.amplitudeCode, settings.dutyPercent);
      benchmark::DoNotOptimize(aSamples);
    }
    RefreshTexts(settings);
    step += 7919;
  }
}
BENCHMARK(BM_RefreshAllShapes);

// One refresh as the panel does it: the table of the chosen shape and the texts.
void BM_Refresh(benchmark::State &state) {
  uint16_t aSamples[kWaveTableSamples];
  GeneratorSettings settings;
  settings.waveformIndex = static_cast<int32_t>(state.range(0));
  uint32_t step = 0;
  for (auto _ : state) {
    settings.frequencyCode = static_cast<uint16_t>(7 + step % 65529);
    settings.offsetCode = static_cast<uint8_t>(step % 63);
    settings.amplitudeCode = static_cast<uint16_t>(255 + step % 32513);
    BuildWaveTable(aSamples, settings.waveformIndex, settings.amplitudeCode, settings.dutyPercent);
    benchmark::DoNotOptimize(aSamples);
    RefreshTexts(settings);
    step += 7919;
  }
}
BENCHMARK(BM_Refresh)->DenseRange(0, 6);

void BM_SineTable(benchmark::State &state) {
  uint16_t aSamples[kWaveTableSamples];
  for (auto _ : state) {
    BuildWaveTable(aSamples, 0, 32767, 50);
    benchmark::DoNotOptimize(aSamples);
  }
}
BENCHMARK(BM_SineTable);

void BM_FieldAndReadoutTexts(benchmark::State &state) {
  GeneratorSettings settings;
  uint32_t step = 0;
  for (auto _ : state) {
    settings.frequencyCode = static_cast<uint16_t>(7 + step % 65529);
    settings.offsetCode = static_cast<uint8_t>(step % 63);
    settings.amplitudeCode = static_cast<uint16_t>(255 + step % 32513);
    RefreshTexts(settings);
    step += 7919;
  }
}
BENCHMARK(BM_FieldAndReadoutTexts);

void BM_FormatFrequency(benchmark::State &state) {
  char szText[349];
  double hertz = FrequencyFromCode(7, 0);
  for (auto _ : state) {
    FormatSignificant(hertz, 8, szText, std::size(szText));
    benchmark::DoNotOptimize(szText);
  }
}
BENCHMARK(BM_FormatFrequency);

}  // namespace

BENCHMARK_MAIN();
