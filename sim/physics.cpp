#include "physics.h"

#include <algorithm>
#include <cmath>

namespace quenta_sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRoomK = 298.15;
constexpr double kWanderK = 0.3;           // room temperature swings this much...
constexpr double kWanderPeriodS = 3600.0;  // ...over an hour
constexpr double kOutputTauS = 0.02;       // the RF amplitude settles within ~100 ms
constexpr double kNominalHz = 13560000.0;

// Each temperature relaxes towards ambient + idle rise + full-load rise * load.
struct Thermal {
    double idleK, loadK, tauS;
};
constexpr Thermal kRfHeatsink{5.0, 35.0, 90.0};
constexpr Thermal kCoil{3.0, 60.0, 60.0};
constexpr Thermal kPsuHeatsink{4.0, 20.0, 120.0};
constexpr Thermal kCpu{15.0, 2.0, 300.0};

double Relax(double value, double target, double dtS, double tauS) {
    return target + (value - target) * std::exp(-dtS / tauS);
}

template <typename T>
T ClampTo(double v, double lo, double hi) {
    return static_cast<T>(std::lround(std::clamp(v, lo, hi)));
}

std::uint16_t CentiK(double k) {
    return ClampTo<std::uint16_t>(k * 100.0, 0.0, 65535.0);
}

}  // namespace

Physics::Physics(std::uint64_t seed, double maxAmplitudeV)
    : rng_(seed), maxAmplitudeV_(maxAmplitudeV > 0.0 ? maxAmplitudeV : 1.0) {
    phase_ = rng_.Unit() * 2.0 * kPi;
    freqOffset_ = rng_.Noise(400.0);
    const double ambient = Ambient();
    rfHeatsinkK_ = ambient + kRfHeatsink.idleK;
    coilK_ = ambient + kCoil.idleK;
    psuHeatsinkK_ = ambient + kPsuHeatsink.idleK;
    cpuK_ = ambient + kCpu.idleK;
}

double Physics::Load() const {
    const double r = outputV_ / maxAmplitudeV_;
    return r * r;
}

double Physics::Ambient() const {
    const double t = static_cast<double>(nowNs_) * 1e-9;
    return kRoomK + kWanderK * std::sin(2.0 * kPi * t / kWanderPeriodS + phase_);
}

void Physics::SetDrive(double amplitudeV, bool rfOn, bool interlockClosed, std::uint64_t nowNs) {
    Advance(nowNs);
    targetV_ = rfOn && interlockClosed ? std::max(0.0, amplitudeV) : 0.0;
}

void Physics::Advance(std::uint64_t nowNs) {
    if (nowNs <= nowNs_) return;
    const double dtS = static_cast<double>(nowNs - nowNs_) * 1e-9;
    nowNs_ = nowNs;
    outputV_ = Relax(outputV_, targetV_, dtS, kOutputTauS);
    // The output settles in milliseconds and the temperatures in minutes, so heating
    // with the settled output is close enough.
    const double ambient = Ambient(), load = Load();
    auto heat = [&](double& k, const Thermal& t) {
        k = Relax(k, ambient + t.idleK + t.loadK * load, dtS, t.tauS);
    };
    heat(rfHeatsinkK_, kRfHeatsink);
    heat(coilK_, kCoil);
    heat(psuHeatsinkK_, kPsuHeatsink);
    heat(cpuK_, kCpu);
}

Housekeeping Physics::ReadHousekeeping(std::uint64_t nowNs) {
    Advance(nowNs);
    Housekeeping h;
    h.rail12Mv = ClampTo<std::uint16_t>(12000.0 - 40.0 * Load() + rng_.Noise(8.0), 0, 65535);
    h.rail5Mv = ClampTo<std::uint16_t>(5000.0 + rng_.Noise(5.0), 0, 65535);
    h.rail3Mv = ClampTo<std::uint16_t>(3300.0 + rng_.Noise(4.0), 0, 65535);
    h.cpuCentiK = CentiK(cpuK_ + rng_.Noise(0.05));
    return h;
}

RfGenerator Physics::ReadRfGenerator(std::uint64_t nowNs) {
    Advance(nowNs);
    const PowerSupply supply = ReadPowerSupply(nowNs);
    RfGenerator g;
    // The pick-ups read a few millivolts of noise with the output off.
    const double mv = outputV_ * 1000.0;
    g.amplitude1Mv = ClampTo<std::uint32_t>(mv * (1.0 + rng_.Noise(0.0005)) + 5.0 + rng_.Noise(5.0),
                                            0, 0xFFFFFF);
    g.amplitude2Mv = ClampTo<std::uint32_t>(
        mv * (0.985 + rng_.Noise(0.0005)) + 5.0 + rng_.Noise(5.0), 0, 0xFFFFFF);
    g.drainMv = ClampTo<std::uint32_t>(supply.voltageMv - 0.05 * supply.currentMa, 0, 0xFFFFF);
    // The tank circuit detunes slightly as the coil warms.
    g.frequencyHz = ClampTo<std::uint32_t>(
        kNominalHz + freqOffset_ - 2.0 * (coilK_ - kRoomK) + rng_.Noise(3.0), 0, 4294967295.0);
    g.heatsinkCentiK = CentiK(rfHeatsinkK_ + rng_.Noise(0.03));
    g.coilCentiK = CentiK(coilK_ + rng_.Noise(0.03));
    return g;
}

PowerSupply Physics::ReadPowerSupply(std::uint64_t nowNs) {
    Advance(nowNs);
    const double level = outputV_ / maxAmplitudeV_;
    PowerSupply s;
    s.voltageMv =
        ClampTo<std::int32_t>(24000.0 + 68000.0 * level + rng_.Noise(20.0), -524288, 524287);
    s.currentMa = ClampTo<std::int32_t>(120.0 + 5500.0 * Load() + rng_.Noise(5.0), -32768, 32767);
    s.heatsinkCentiK = CentiK(psuHeatsinkK_ + rng_.Noise(0.03));
    return s;
}

}  // namespace quenta_sim
