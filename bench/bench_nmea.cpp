// Sentence formatting and geodetic conversion: the per-sample cost of every writer.
#include <benchmark/benchmark.h>

#include "geo/geodesy.hpp"
#include "nmea/sentences.hpp"

static void BM_GgaSentence(benchmark::State& state)
{
    long double t = 32400;
    for (auto _ : state) {
        benchmark::DoNotOptimize(trajix::ggaSentence(t, 52.123456789L, -1.987654321L, trajix::fixedAltitude));
        t += 0.05L;
    }
}
BENCHMARK(BM_GgaSentence);

static void BM_LocalToLatLong(benchmark::State& state)
{
    trajix::GeoState geo;
    trajix::setLocalOrigin(geo, 52, 0, 0);
    long double east = 0;
    for (auto _ : state) {
        trajix::ENUtoECEF(geo, east, 100, 0);
        trajix::ECEFToLatLong(geo, geo.ecefX, geo.ecefY, geo.ecefZ);
        benchmark::DoNotOptimize(geo.geoLatitude);
        east += 0.1L;
    }
}
BENCHMARK(BM_LocalToLatLong);
