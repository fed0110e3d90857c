#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "statistics.h"

namespace {

using ombrel::MeasurementStatistics;

struct StatisticsCase {
    const char* name;
    std::vector<double> readings;
    double mean;
    double deviation;
    double aboveMean;
    double belowMean;
};

MeasurementStatistics Record(const std::vector<double>& readings) {
    MeasurementStatistics record;
    for (double x : readings) record.Add(x);
    return record;
}

TEST(MeasurementStatistics, DerivesMeanSpreadAndExtremesFromRunningSums) {
    const StatisticsCase cases[] = {
        {"no readings", {}, 0, 0, 0, 0},
        {"one reading", {2.5}, 2.5, 0, 0, 0},
        {"1.000 and 1.002", {1.000, 1.002}, 1.001, 0.001, 0.001, 0.001},
        // Population deviation: divisor 4, not 3.
        {"1 to 4", {1, 2, 3, 4}, 2.5, std::sqrt(1.25), 1.5, 1.5},
        {"negatives", {-1, -3}, -2, 1, 1, 1},
        // The first reading sets both extremes, so a negative one is not beaten by 0.
        {"one negative", {-5}, -5, 0, 0, 0},
        {"unordered", {3, -1, 7, 3}, 3, std::sqrt(8.0), 4, 4},
    };
    for (const StatisticsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const MeasurementStatistics record = Record(c.readings);
        EXPECT_EQ(record.count, static_cast<int>(c.readings.size()));
        EXPECT_NEAR(record.Mean(), c.mean, 1e-12);
        EXPECT_NEAR(record.StandardDeviation(), c.deviation, 1e-9);
        EXPECT_NEAR(record.MaxAboveMean(), c.aboveMean, 1e-9);
        EXPECT_NEAR(record.MinBelowMean(), c.belowMean, 1e-9);
    }
}

TEST(MeasurementStatistics, EqualReadingsHaveExactlyZeroDeviation) {
    // 12.345 and 47.3 leave a negative rest in the running sums, 0.1 a positive one.
    for (double x : {12.345, 47.3, 0.1, -7.7}) {
        SCOPED_TRACE(x);
        const MeasurementStatistics record = Record(std::vector<double>(10, x));
        EXPECT_EQ(record.StandardDeviation(), 0.0);
        EXPECT_FALSE(std::isnan(record.StandardDeviation()));
        EXPECT_EQ(record.maximum, x);
        EXPECT_EQ(record.minimum, x);
    }
}

TEST(MeasurementStatistics, ResetStartsAfresh) {
    MeasurementStatistics record = Record({5, 7, 9});
    record.Reset();
    EXPECT_EQ(record.count, 0);
    EXPECT_EQ(record.Mean(), 0.0);
    EXPECT_EQ(record.maximum, 0.0);
    EXPECT_EQ(record.minimum, 0.0);
    record.Add(-2);
    EXPECT_EQ(record.maximum, -2.0);
    EXPECT_EQ(record.minimum, -2.0);
    EXPECT_EQ(record.Mean(), -2.0);
    EXPECT_EQ(record.StandardDeviation(), 0.0);
}

std::string Field(const MeasurementStatistics& record, const char* format, unsigned size = 200) {
    std::vector<char> text(size, 'x');
    record.FormatField(text.data(), size, format);
    return text.data();
}

TEST(MeasurementStatistics, FormatFieldShowsMeanAndThousandthsOfTheSpreads) {
    const char* const voltage = "\t%09.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)";
    EXPECT_EQ(Field(Record({1.000, 1.002}), voltage), "\t0001.0010V \261 1.00mV (+1.0mV, -1.0mV)");
    EXPECT_EQ(Field(Record({}), "\t%07.5lfMHz \261 %.3lfkHz (+%.2lfkHz, -%.2lfkHz)"),
              "\t0.00000MHz \261 0.000kHz (+0.00kHz, -0.00kHz)");
    EXPECT_EQ(Field(Record({-1.5, -0.5}), "\t%07.4lfV \261 %.2lfmV (+%.1lfmV, -%.1lfmV)"),
              "\t-1.0000V \261 500.00mV (+500.0mV, -500.0mV)");
    EXPECT_EQ(Field(Record({24.5, 25.5}), "\t%.3lf\260C \261 %.1lfmK (+%.1lfmK, -%.1lfmK)"),
              "\t25.000\260C \261 500.0mK (+500.0mK, -500.0mK)");
}

TEST(MeasurementStatistics, FormatFieldStaysInsideItsBuffer) {
    const MeasurementStatistics record = Record({1, 2});
    EXPECT_EQ(Field(record, "%.1lf %.1lf %.1lf %.1lf", 8), "1.5 500");
    EXPECT_EQ(Field(record, nullptr), "");
    record.FormatField(nullptr, 10, "%lf");  // nothing to write to: no crash
    char untouched = 'u';
    record.FormatField(&untouched, 0, "%lf");
    EXPECT_EQ(untouched, 'u');
}

TEST(MeasurementStatistics, SpreadsOfEqualReadingsShowNoMinusSign) {
    // Ten times 0.1 sums to a little less than 1: the mean lies below the minimum.
    const MeasurementStatistics record = Record(std::vector<double>(10, 0.1));
    EXPECT_GE(record.MinBelowMean(), 0.0);
    EXPECT_GE(record.MaxAboveMean(), 0.0);
    EXPECT_EQ(Field(record, "%.1lf %.1lf (+%.1lf, -%.1lf)"), "0.1 0.0 (+0.0, -0.0)");
}

}  // namespace
