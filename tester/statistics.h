// Running mean and spread of one measured quantity.
#pragma once

namespace ombrel {

struct MeasurementStatistics {
    double sum = 0;
    double sumOfSquares = 0;
    int count = 0;
    double maximum = 0;
    double minimum = 0;

    void Reset();
    void Add(double x);
    double Mean() const;
    double StandardDeviation() const;
    double MaxAboveMean() const;
    double MinBelowMean() const;
    // One statistics field: format gets Mean and 1000 times the deviation and spreads.
    void FormatField(char* text, unsigned size, const char* format) const;
};

}  // namespace ombrel
