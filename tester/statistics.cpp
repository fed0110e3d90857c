#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ombrel {

void MeasurementStatistics::Reset() {
    *this = MeasurementStatistics();
}

void MeasurementStatistics::Add(double x) {
    if (count == 0) {
        minimum = x;
        maximum = x;
    } else {
        if (minimum > x) minimum = x;
        if (!(maximum >= x)) maximum = x;
    }
    ++count;
    sum += x;
    sumOfSquares += x * x;
}

double MeasurementStatistics::Mean() const {
    return count < 1 ? 0.0 : sum / count;
}

double MeasurementStatistics::StandardDeviation() const {
    double variance = 0.0;
    // Equal readings have no spread, whatever rounding rest the running sums leave.
    if (count >= 2 && maximum != minimum) {
        const double mean = sum / count;
        variance = sumOfSquares / count - mean * mean;
    }
    // Nearly equal readings can leave a tiny negative rest.
    if (!(variance > 0.0)) variance = 0.0;
    return std::sqrt(variance);
}

// The extremes bound the readings, so their distances from the mean are never below
// 0; a mean rounded past an extreme would otherwise show as "--0.0".
double MeasurementStatistics::MaxAboveMean() const {
    return std::max(0.0, maximum - Mean());
}

double MeasurementStatistics::MinBelowMean() const {
    return std::max(0.0, Mean() - minimum);
}

void MeasurementStatistics::FormatField(char* text, unsigned size, const char* format) const {
    if (text == nullptr || size == 0) return;
    if (format == nullptr) {
        text[0] = '\0';
        return;
    }
    std::snprintf(text, size, format, Mean(), 1000.0 * StandardDeviation(), 1000.0 * MaxAboveMean(),
                  1000.0 * MinBelowMean());
}

}  // namespace ombrel
