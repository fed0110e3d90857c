#include "protocol.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "console.h"
#include "cycling.h"
#include "operations.h"
#include "program.h"
#include "screens.h"
#include "statistics.h"
#include "telvar.h"

#if defined(__GNUC__)
#define OMBREL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define OMBREL_PRINTF(f, a)
#endif

namespace ombrel {

namespace {

constexpr std::int32_t kSampleMs = 500;
constexpr int kHousekeepingReadings = 10;
constexpr std::int64_t kFirstSettlingMs = 5000;
constexpr std::int64_t kLaterSettlingMs = 3000;
// Longer steps than this (about 31 years) are held as long as this.
constexpr double kLongestStepMs = 1e12;

const char* const kHeaderLine =
    "Amplitude\tAmplitude 1\tAmplitude 2\tDrain Voltage\tFrequency\tHeatsink "
    "Temperature\tCoil Temperature\tVoltage\tCurrent\tHeatsink Temperature\n";

// The housekeeping block of the file: one field per record, in record order.
enum { k12V, k5V, k3V, kCpu, kRailCount };
const char* const kRailFields[kRailCount] = {
    "\t12V: %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n",
    "\t5V:  %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n",
    "\t3V:  %.3lfV \261 %.2lfmV (+%.2lfmV, -%.2lfmV)\n",
    "\tCPU: %.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)\n",
};

// The step records in the order of the file's columns 2 to 10.
enum {
    kAmplitude1,
    kAmplitude2,
    kDrain,
    kFrequency,
    kRfHeatsink,
    kCoil,
    kPsuVoltage,
    kPsuCurrent,
    kPsuHeatsink,
    kStepCount
};
const char* const kStepFields[kStepCount] = {
    "\t%09.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)",
    "\t%09.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)",
    "\t%08.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)",
    "\t%07.5lfMHz \261 %.3lfkHz (+%.2lfkHz, -%.2lfkHz)",
    "\t%.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)",
    "\t%.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)",
    "\t%07.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)",
    "\t%06.4lfA \261 %.2lfmA (+%.1lfmA, -%.1lfmA)",
    "\t%.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)",
};

const char* OnOff(int state) {
    return state != 0 ? "on " : "off";
}

// "%a, %m/%d/%Y, %H:%M:%S", with English day names whatever the locale.
void TimeStamp(char* text, std::size_t size) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr || local->tm_wday < 0 || local->tm_wday > 6) {
        std::snprintf(text, size, "unknown time");
        return;
    }
    const int length =
        std::snprintf(text, size, "%s, %02d/%02d/%04d, %02d:%02d:%02d", kDays[local->tm_wday],
                      local->tm_mon + 1, local->tm_mday, local->tm_year + 1900, local->tm_hour,
                      local->tm_min, local->tm_sec);
    // Only fields beyond their ranges could overflow the stamp: no half stamp then.
    if (length < 0 || static_cast<std::size_t>(length) >= size) {
        std::snprintf(text, size, "unknown time");
    }
}

class ProtocolRun {
  public:
    ProtocolRun(std::FILE* file, double startAmplitude, double endAmplitude, double amplitudeStep,
                double stepDuration, bool pauseAfterStep)
        : file_(file),
          start_(startAmplitude),
          end_(endAmplitude),
          step_(amplitudeStep),
          duration_(stepDuration),
          pause_(pauseAfterStep) {}

    bool Execute();
    // RF may still be on after a failure: one best-effort attempt to switch it off.
    void SwitchRFOffAfterFailure();
    bool rfMayBeOn() const { return rfMayBeOn_; }

  private:
    // Every device call of the run: a failure is tried once more at once; a second
    // failure is reported and ends the run.
    template <typename Call>
    bool Device(const char* label, Call call) {
        if (call() == 0 || call() == 0) return true;
        EndLiveLines();
        ErrorReport(label);
        return false;
    }

    void ToFile(const char* format, ...) OMBREL_PRINTF(2, 3);
    // Rows already measured survive an interrupted run.
    void FlushFile() {
        if (file_ != nullptr) std::fflush(file_);
    }
    void Progress(const char* line) {
        if (modes.debug) std::printf("%s", line);
    }
    // Moves below the live lines so that an error line does not land inside them.
    void EndLiveLines();

    bool Identity();
    bool Uptime();
    bool Housekeeping();
    bool AmplitudeStep(double& amplitude, bool& firstStep, bool& stop);

    std::FILE* file_;
    double start_;
    double end_;
    double step_;
    double duration_;
    bool pause_;
    bool rfMayBeOn_ = false;
    int liveEndRow_ = 0;  // last row of live lines on screen, 0 when none
};

void ProtocolRun::ToFile(const char* format, ...) {
    if (file_ == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file_, format, args);
    va_end(args);
}

void ProtocolRun::EndLiveLines() {
    if (liveEndRow_ == 0) return;
    std::fflush(stdout);
    console::MoveCursor(1, liveEndRow_);
    console::Write("\n");
    liveEndRow_ = 0;
}

bool ProtocolRun::Identity() {
    Progress("Getting the product number:\n");
    int number = 0;
    if (!Device("TELVAR_Prod_No", [&] { return TELVAR_Prod_No(kSlot, &number); })) return false;
    std::printf("Product number: %d\n", number);
    ToFile("Product number: %d\n", number);

    Progress("Getting product identification:\n");
    // The library delivers up to 8191 characters and a terminator.
    static char identification[8192];
    identification[0] = '\0';
    if (!Device("TELVAR_Prod_ID", [&] { return TELVAR_Prod_ID(kSlot, identification); })) {
        return false;
    }
    identification[sizeof identification - 1] = '\0';
    std::printf("Product identification: %s\n", identification);
    ToFile("Product identification: %s\n", identification);

    Progress("Getting firmware version:\n");
    unsigned short version = 0;
    if (!Device("TELVAR_FW_Ver", [&] { return TELVAR_FW_Ver(kSlot, &version); })) return false;
    std::printf("Firmware version: %d.%02d\n", version >> 8, version & 0xFF);
    ToFile("Firmware version: %d.%02d\n", version >> 8, version & 0xFF);

    Progress("Getting firmware date:\n");
    char date[16] = "";
    if (!Device("TELVAR_FW_Date", [&] { return TELVAR_FW_Date(kSlot, date); })) return false;
    date[sizeof date - 1] = '\0';
    std::printf("Firmware date: %s\n", date);
    ToFile("Firmware date: %s\n", date);

    Progress("Getting hardware capabilities:\n");
    double minimum = 0;
    double maximum = 0;
    double supply = 0;
    if (!Device("TELVAR_GetHardwareCapability",
                [&] { return TELVAR_GetHardwareCapability(kSlot, &minimum, &maximum, &supply); })) {
        return false;
    }
    const char* const capabilities =
        "Hardware capabilities:\n\tMinimum amplitude: %.0lfV\n\tMaximum amplitude: "
        "%.0lfV\n\tMaximum supply voltage: %.1lfV\n";
    std::printf(capabilities, minimum, maximum, supply);
    ToFile("\n");
    ToFile(capabilities, minimum, maximum, supply);
    FlushFile();
    return true;
}

bool ProtocolRun::Uptime() {
    Progress("Getting device uptime:\n");
    unsigned int seconds = 0;
    unsigned short milliseconds = 0;
    if (!Device("TELVAR_GetUptime",
                [&] { return TELVAR_GetUptime(kSlot, &seconds, &milliseconds); })) {
        return false;
    }
    const unsigned hours = seconds / 3600;
    const unsigned minutes = seconds % 3600 / 60;
    const unsigned secs = seconds % 60;
    const unsigned hundredths = milliseconds / 10u;
    std::printf("Device uptime: %u:%02u:%02u.%02u sec.\n", hours, minutes, secs, hundredths);
    ToFile("\nDevice uptime: %u:%02u:%02u.%02u sec.\n", hours, minutes, secs, hundredths);
    FlushFile();
    return true;
}

bool ProtocolRun::Housekeeping() {
    Progress("Getting the housekeeping & the HV supply data:\n");
    MeasurementStatistics rails[kRailCount];
    int row = 0;
    const bool live = CurrentRow(row);
    std::int32_t t = ProgramClock();
    for (int i = 0; i < kHousekeepingReadings; ++i) {
        double value[kRailCount] = {};
        if (!Device("TELVAR_Get_HousekeepingData", [&] {
                return TELVAR_Get_HousekeepingData(kSlot, &value[k12V], &value[k5V], &value[k3V],
                                                   &value[kCpu]);
            })) {
            return false;
        }
        if (live) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "Housekeeping data: 12V: %.3lfV, 5V: %.3lfV, 3V: %.3lfV, CPU: %.2lfdegC",
                          value[k12V], value[k5V], value[k3V], value[kCpu]);
            ShowOnRow(row, line);
            liveEndRow_ = row;
        }
        for (int r = 0; r < kRailCount; ++r) rails[r].Add(value[r]);
        // A fixed schedule: the readings lie 500 ms apart whatever each call took.
        t = ClockAdd(t, kSampleMs);
        WaitUntil(t, false);
    }
    if (live) {
        std::fflush(stdout);
        console::MoveCursor(1, row);
        console::ClearToEndOfLine();
        liveEndRow_ = 0;
    }
    std::printf("Housekeeping data:\t12V: %.3lfV\t5V: %.3lfV\t3V: %.3lfV\tCPU: %.2lfdegC\n",
                rails[k12V].Mean(), rails[k5V].Mean(), rails[k3V].Mean(), rails[kCpu].Mean());
    ToFile("\nHousekeeping data:\n");
    for (int r = 0; r < kRailCount; ++r) {
        char field[160];
        rails[r].FormatField(field, sizeof field, kRailFields[r]);
        ToFile("%s", field);
    }
    FlushFile();
    return true;
}

bool ProtocolRun::AmplitudeStep(double& amplitude, bool& firstStep, bool& stop) {
    std::printf("Setting RF amplitude: %+06.1lfV\n", amplitude);
    if (!Device("TELVAR_Set_Amplitude", [&] { return TELVAR_Set_Amplitude(kSlot, &amplitude); })) {
        return false;
    }
    const std::int32_t t0 = ProgramClock();
    const std::int64_t settlingMs = firstStep ? kFirstSettlingMs : kLaterSettlingMs;
    firstStep = false;
    // Sample times are kept as offsets from t0, so no step length overflows the clock.
    double lengthMs = std::floor(duration_ * 1000.0 + 0.5);
    if (lengthMs > kLongestStepMs) lengthMs = kLongestStepMs;

    MeasurementStatistics record[kStepCount];

    std::printf(modes.debug ? "Getting the RFG & PSU data:\n\n" : "\n");
    int row = 0;
    const bool live = CurrentRow(row) && row > 1;
    const bool spaceAborts = pause_ || step_ == 0;

    // A negative (or not a number) duration takes no sample at all.
    for (std::int64_t offset = 0; lengthMs >= 0;) {
        double amplitude1 = 0;
        double amplitude2 = 0;
        double drain = 0;
        int frequencyHz = 0;
        double rfHeatsink = 0;
        double coil = 0;
        if (!Device("TELVAR_Get_RFGData", [&] {
                return TELVAR_Get_RFGData(kSlot, &amplitude1, &amplitude2, &drain, &frequencyHz,
                                          &rfHeatsink, &coil);
            })) {
            return false;
        }
        const double frequency = frequencyHz * 0.000001;
        char line[200];
        if (live) {
            std::snprintf(line, sizeof line,
                          "RFG data: Ampl: %07.3lfV, %07.3lfV, Drain: %06.3lfV, Freq: "
                          "%06.4lfMHz, Heatsink: %+05.2lfdegC, Coil: %+05.2lfdegC",
                          amplitude1, amplitude2, drain, frequency, rfHeatsink, coil);
            ShowOnRow(row - 1, line);
            liveEndRow_ = row;
        }
        double voltage = 0;
        double current = 0;
        double psuHeatsink = 0;
        if (!Device("TELVAR_Get_PowerData", [&] {
                return TELVAR_Get_PowerData(kSlot, &voltage, &current, &psuHeatsink);
            })) {
            return false;
        }
        if (live) {
            std::snprintf(line, sizeof line,
                          "PSU data: Voltage: %06.3lfV, Current: %05.3lfA, Heatsink: %+05.2lfdegC",
                          voltage, current, psuHeatsink);
            ShowOnRow(row, line);
        }
        // The electrical readings count once the amplitude has settled; the
        // temperatures change slowly and count from the first reading.
        if (offset >= settlingMs) {
            record[kAmplitude1].Add(amplitude1);
            record[kAmplitude2].Add(amplitude2);
            record[kDrain].Add(drain);
            record[kFrequency].Add(frequency);
            record[kPsuVoltage].Add(voltage);
            record[kPsuCurrent].Add(current);
        }
        record[kRfHeatsink].Add(rfHeatsink);
        record[kCoil].Add(coil);
        record[kPsuHeatsink].Add(psuHeatsink);

        offset += kSampleMs;
        const std::int32_t t = ClockAdd(t0, offset);
        if (spaceAborts ? !WaitUntilOrSpace(t) : !WaitUntil(t, false)) {
            if (step_ == 0) stop = true;
            break;
        }
        if (offset > lengthMs) break;
    }
    if (pause_ || stop) DiscardPendingKeys();

    if (live) {
        std::fflush(stdout);
        console::MoveCursor(1, row - 1);
        console::ClearToEndOfLine();
    }
    liveEndRow_ = 0;
    std::printf(
        "RFG data: Ampl: %07.3lfV, %07.3lfV, Drain: %06.3lfV, Freq: %06.4lfMHz, Heatsink: "
        "%+05.2lfdegC, Coil: %+05.2lfdegC\n",
        record[kAmplitude1].Mean(), record[kAmplitude2].Mean(), record[kDrain].Mean(),
        record[kFrequency].Mean(), record[kRfHeatsink].Mean(), record[kCoil].Mean());
    if (live) {
        std::fflush(stdout);
        console::ClearToEndOfLine();
    }
    std::printf("PSU data: Voltage: %06.3lfV, Current: %05.3lfA, Heatsink: %+05.2lfdegC\n",
                record[kPsuVoltage].Mean(), record[kPsuCurrent].Mean(),
                record[kPsuHeatsink].Mean());

    ToFile("%06.1lfV", amplitude);
    for (int c = 0; c < kStepCount; ++c) {
        char field[160];
        record[c].FormatField(field, sizeof field, kStepFields[c]);
        ToFile("%s", field);
    }
    ToFile("\n");
    FlushFile();
    return true;
}

bool ProtocolRun::Execute() {
    char stamp[30];
    TimeStamp(stamp, sizeof stamp);
    std::printf("Test protocol created at %s\n", stamp);
    ToFile("Test protocol created at %s\n\n", stamp);

    if (!Identity() || !Uptime() || !Housekeeping()) return false;

    Progress("Getting the interlock state:\n");
    int closed = 0;
    if (!Device("TELVAR_Get_InterlockState",
                [&] { return TELVAR_Get_InterlockState(kSlot, &closed); })) {
        return false;
    }
    std::printf("Interlock is %s\n", closed != 0 ? "closed" : "open");
    ToFile("\nInterlock is %s\n", closed != 0 ? "closed" : "open");
    if (closed == 0) {
        std::printf("Interlock is open, voltage test skipped!\n");
        ToFile("\nInterlock is open, amplitude test skipped!\n");
        FlushFile();
        return true;
    }

    std::printf("Getting the set value of the RF amplitude:\n");
    double saved = 0;
    if (!Device("TELVAR_Get_Amplitude", [&] { return TELVAR_Get_Amplitude(kSlot, &saved); })) {
        return false;
    }
    std::printf("RF amplitude: %.1lfV\n", saved);
    ToFile("\nSet RF amplitude: %.1lfV\n", saved);
    FlushFile();

    Progress("Setting the RF state:\n");
    int state = 1;
    // From the first attempt on, RF may be on.
    rfMayBeOn_ = true;
    if (!Device("TELVAR_Set_Enable", [&] { return TELVAR_Set_Enable(kSlot, &state); })) {
        return false;
    }
    std::printf("RF state set to %s\n", OnOff(state));

    std::printf("Testing RF amplitude:\n");
    ToFile("\nTesting RF amplitude:\n");
    ToFile("%s", kHeaderLine);
    FlushFile();
    if (step_ == 0) {
        std::printf("Zero step specified, press SPACE to stop the infinite loop...\n");
    } else if (pause_) {
        std::printf("Press SPACE to proceed to the next value...\n");
    }
    DiscardPendingKeys();

    bool firstStep = true;
    bool stop = false;
    double amplitude = start_;
    bool havePrevious = false;
    double previous = 0;
    while (!stop && (step_ < 0 ? amplitude >= end_ : amplitude <= end_)) {
        if (!AmplitudeStep(amplitude, firstStep, stop)) return false;
        if (step_ != 0) {
            // A device that cannot move (a clamped target, a step below its
            // resolution) would confirm the same amplitude for ever.
            if (havePrevious && amplitude == previous) {
                std::printf("RF amplitude no longer changes (%.1lfV), sweep ended\n", amplitude);
                break;
            }
            havePrevious = true;
            previous = amplitude;
        } else if (console::InputEnded()) {
            // No SPACE can come any more.
            stop = true;
        }
        amplitude += step_;
    }

    std::printf("Testing finished\n");
    ToFile("Testing finished\n");
    FlushFile();

    std::printf("Resetting the RF state:\n");
    state = 0;
    if (!Device("TELVAR_Set_Enable", [&] { return TELVAR_Set_Enable(kSlot, &state); })) {
        return false;
    }
    rfMayBeOn_ = state != 0;
    std::printf("RF state set to %s\n", OnOff(state));

    std::printf("Restoring the amplitude:\n");
    if (!Device("TELVAR_Set_Amplitude", [&] { return TELVAR_Set_Amplitude(kSlot, &saved); })) {
        return false;
    }
    std::printf("RF amplitude set to %.1lfV\n", saved);

    return Uptime();
}

void ProtocolRun::SwitchRFOffAfterFailure() {
    int state = 0;
    if (TELVAR_Set_Enable(kSlot, &state) == 0 && state == 0) {
        std::printf("RF switched off after the error\n");
    } else {
        std::printf("RF could not be switched off after the error, it may still be on!\n");
    }
}

}  // namespace

bool RunTestProtocol(std::FILE* file, double startAmplitude, double endAmplitude,
                     double amplitudeStep, double stepDuration, bool pauseAfterStep) {
    ProtocolRun run(file, startAmplitude, endAmplitude, amplitudeStep, stepDuration,
                    pauseAfterStep);
    if (run.Execute()) return true;
    if (run.rfMayBeOn()) run.SwitchRFOffAfterFailure();
    if (file != nullptr) std::fflush(file);
    return false;
}

void CreateTestProtocol(const char* fileName, double startAmplitude, double endAmplitude,
                        double amplitudeStep, double stepDuration, bool pauseAfterStep) {
    if (modes.debug) std::printf("Creating test protocol:\n");
    if (fileName == nullptr) fileName = "";
    std::FILE* file = std::fopen(fileName, "w");
    if (file == nullptr) {
        std::printf("Cannot open the data file %s\n", fileName);
        return;
    }
    if (RunTestProtocol(file, startAmplitude, endAmplitude, amplitudeStep, stepDuration,
                        pauseAfterStep)) {
        std::printf("Test protocol finished\n");
        std::fprintf(file, "\nTest protocol finished\n");
    }
    // A full disk shows here, not only at the close.
    if (std::fflush(file) != 0 || std::ferror(file) != 0) {
        std::printf("Cannot write the data file %s\n", fileName);
    }
    if (std::fclose(file) != 0) std::printf("Cannot close the data file %s\n", fileName);
}

}  // namespace ombrel
