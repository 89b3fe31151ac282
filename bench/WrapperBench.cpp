// The wrapper's cost against the raw interface call, on the substitute driver: one read
// (TScaleX::Weight against ITrutina::get_Weight) and one write (TScaleX::SetUnitPrice, which adds
// the result check, against ITrutina::put_UnitPrice).
#include "BenchSupport.h"
#include "platform/comptr.h"

#include "driver/ScaleX.h"
#include "driver/Statera.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int Repetitions = 9;

struct TDriverLink {
    std::unique_ptr<TStatera> Control;
    platform::ComPtr<ITrutina> Driver;
    std::unique_ptr<TScaleX> Scale;
};

TDriverLink& Link()
{
    static TDriverLink link = [] {
        bench::Drivers().UseSubstitute();
        TDriverLink l;
        l.Control = std::make_unique<TStatera>();
        l.Driver = l.Control->DriverInterface();
        l.Scale = std::make_unique<TScaleX>(l.Driver.Get());
        return l;
    }();
    return link;
}

constexpr std::int64_t Price = 123450; // 12.345 x 10000

void BM_ReadRaw(benchmark::State& state)
{
    ITrutina* driver = Link().Driver.Get();
    DOUBLE weight = 0;
    for (auto _ : state) {
        driver->get_Weight(&weight);
        benchmark::DoNotOptimize(weight);
    }
}
BENCHMARK(BM_ReadRaw)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

void BM_ReadWrapper(benchmark::State& state)
{
    TScaleX& scale = *Link().Scale;
    for (auto _ : state)
        benchmark::DoNotOptimize(scale.Weight());
}
BENCHMARK(BM_ReadWrapper)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

void BM_WriteRaw(benchmark::State& state)
{
    ITrutina* driver = Link().Driver.Get();
    CY price;
    price.int64 = Price;
    for (auto _ : state)
        benchmark::DoNotOptimize(driver->put_UnitPrice(price));
    LONG code = -1;
    driver->get_ResultCode(&code);
    if (code != 0)
        state.SkipWithError("the driver refused the write");
}
BENCHMARK(BM_WriteRaw)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

void BM_WriteWrapper(benchmark::State& state)
{
    TScaleX& scale = *Link().Scale;
    try {
        for (auto _ : state)
            scale.SetUnitPrice(Price);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_WriteWrapper)->Repetitions(Repetitions)->ReportAggregatesOnly(true);

} // namespace

namespace bench {
void ReleaseDriverLink() { Link() = TDriverLink{}; }
} // namespace bench
