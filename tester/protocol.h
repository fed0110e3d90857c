// Test protocols: identity, housekeeping statistics and an amplitude sweep, written
// to a text file and followed live on the console.
#pragma once

#include <cstdio>

namespace ombrel {

void CreateTestProtocol(const char* fileName, double startAmplitude, double endAmplitude,
                        double amplitudeStep, double stepDuration, bool pauseAfterStep);
bool RunTestProtocol(std::FILE* file, double startAmplitude, double endAmplitude,
                     double amplitudeStep, double stepDuration, bool pauseAfterStep);

}  // namespace ombrel
