#pragma once
// An embedded database of the size one facility reaches over years, made
// from a seed so that every run measures the same data: 50,000 subscribers,
// 5,000,000 entry-history rows, 500,000 receipts, 100,000 fee rows and
// 20,000 course enrolments. "Today" is BenchNow.
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace parking::bench {

inline const QDateTime BenchNow(QDate(2026, 3, 4), QTime(10, 0));
constexpr int Installation = 1;

struct SiteSize {
    int subscribers = 50'000;
    int movements = 5'000'000;
    int receipts = 500'000;
    int feeRows = 100'000;
    int enrolments = 20'000;
};

// The site the benchmarks use: SiteSize, divided by PARKING_BENCH_SCALE
// when that is set (the latency runs through a slow link need a few
// hundred subscribers, not the large site).
SiteSize benchSiteSize();

struct SubscriberSample {
    std::int32_t code;
    int kind; // 0 fee holder, 1 course holder, 2 neither
};

// Creates the database at `path` unless it is there already with the same
// size and seed; returns the subscribers with their kinds.
std::vector<SubscriberSample> makeLargeSite(const QString& path, const SiteSize& size, std::uint32_t seed);

} // namespace parking::bench
