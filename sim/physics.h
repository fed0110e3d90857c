// The measured quantities of the simulated generator: supply rails, RF output,
// power supply and temperatures, with slow thermal drift and small seeded noise.
// Time is the model's own, in nanoseconds, and only moves forward.
#pragma once

#include <cstdint>

#include "rng.h"

namespace quenta_sim {

// Raw readings in the device's wire units.
struct Housekeeping {
    std::uint16_t rail12Mv, rail5Mv, rail3Mv, cpuCentiK;
};
struct RfGenerator {
    std::uint32_t amplitude1Mv, amplitude2Mv, drainMv, frequencyHz;
    std::uint16_t heatsinkCentiK, coilCentiK;
};
struct PowerSupply {
    std::int32_t voltageMv, currentMa;
    std::uint16_t heatsinkCentiK;
};

class Physics {
  public:
    Physics(std::uint64_t seed, double maxAmplitudeV);

    // The generator's inputs, held constant between calls.
    void SetDrive(double amplitudeV, bool rfOn, bool interlockClosed, std::uint64_t nowNs);
    void Advance(std::uint64_t nowNs);

    Housekeeping ReadHousekeeping(std::uint64_t nowNs);
    RfGenerator ReadRfGenerator(std::uint64_t nowNs);
    PowerSupply ReadPowerSupply(std::uint64_t nowNs);

    // The RF output level in volts, noise-free.
    double OutputV() const { return outputV_; }

  private:
    double Load() const;  // 0..1: output power relative to full amplitude
    double Ambient() const;

    Rng rng_;
    double maxAmplitudeV_;
    double targetV_ = 0.0;
    double outputV_ = 0.0;
    std::uint64_t nowNs_ = 0;
    double phase_;       // of the slow room-temperature wander
    double freqOffset_;  // this unit's oscillator offset, Hz
    double rfHeatsinkK_, coilK_, psuHeatsinkK_, cpuK_;
};

}  // namespace quenta_sim
