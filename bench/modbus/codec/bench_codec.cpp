// Cost of one query's codec work: parse and frame the measurement read, and extract its
// 47-byte answer, alone and behind line noise (which must cost linear time).
#include "modbus/KrModbusCodec.h"

#include <benchmark/benchmark.h>

namespace {

const std::string MeasurementRead = "01,03,14,00,00,15";

// The answer to the measurement read: 21 registers, 47 bytes with CRC.
std::string MeasurementAnswer() {
    std::string answer = {'\x01', '\x03', '\x2A'};
    for (int i = 0; i < 21; ++i) {
        answer.push_back(static_cast<char>(0x09));
        answer.push_back(static_cast<char>(i));
    }
    const uint16_t crc = CalcCRC16(answer);
    answer.push_back(static_cast<char>(crc & 0xFF));
    answer.push_back(static_cast<char>(crc >> 8));
    return answer;
}

void BM_ParseAndFrame(benchmark::State& state) {
    const TKrCodecSettings settings;
    for (auto _ : state) {
        TKrQuery query = BuildQueryFrame(MeasurementRead, settings);
        benchmark::DoNotOptimize(query);
    }
}
BENCHMARK(BM_ParseAndFrame);

// Noise that never looks like the answer's head, so the search walks over all of it.
void BM_ExtractAfterNoise(benchmark::State& state) {
    const TKrCodecSettings settings;
    const TKrQuery query = BuildQueryFrame(MeasurementRead, settings);
    const std::string answer = MeasurementAnswer();
    const std::string buffer = std::string(static_cast<size_t>(state.range(0)), '\xAA') + answer;
    std::string valid;
    for (auto _ : state) {
        const bool ok = ExtractResponse(settings, query, buffer, valid);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(valid);
    }
    if (!ExtractResponse(settings, query, buffer, valid) || valid.size() != answer.size() - 2) {
        state.SkipWithError("the answer was not found");
    }
    state.SetComplexityN(state.range(0) + static_cast<int64_t>(answer.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_ExtractAfterNoise)->Arg(0)->Arg(1000)->Arg(10000)->Arg(100000)->Complexity();

} // namespace

BENCHMARK_MAIN();
