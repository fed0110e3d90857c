// A scripted stand-in for the Telvar library, linked into Ombrel's unit tests in its
// place: every function answers from the script and logs its call.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace fake_telvar {

struct Script {
    unsigned short version = 0x0114;
    // Status code by function name ("TELVAR_Open"); a missing name succeeds.
    std::map<std::string, int> status;
    // Texts of a failure, as the error reports print them.
    std::string errorText = "Error receiving data";
    std::string ioText = "Timeout while reading";

    int bufferEmpty = 1;
    int purged = 1;
    std::string firmwareDate = "Apr 20 2015";
    unsigned short firmwareVersion = 0x0114;
    std::string productIdentification = "QUENTA RF-Generator";
    int productNumber = 4711;
    double housekeeping[4] = {12.002, 5.001, 3.299, 41.5};
    double rfgAmplitudes[3] = {99.95, 100.05, 47.5};
    int frequency = 13560000;
    double rfgTemperatures[2] = {38.25, 29.75};
    double power[3] = {48.012, 1.25, 35.5};
    int interlockClosed = 1;
    double amplitude = 100.0;
    int enable = 0;
    // What the device confirms when set; negative: the value asked for.
    double amplitudeEcho = -1;
    int enableEcho = -1;
    double capability[3] = {10, 1000, 48};
};

// Back to the default script, with an empty log.
void Reset();
Script& script();
// "TELVAR_Open 7 44" style entries: the name, PortNumber and any plain argument.
const std::vector<std::string>& Calls();

}  // namespace fake_telvar
