#pragma once
// What every benchmark program of the project checks about its own run: no
// argument it does not know, and every row it promises actually measured.

#include <benchmark/benchmark.h>

#include <set>
#include <string>
#include <vector>

namespace kevra_bench {

// After benchmark::Initialize (which takes the flags it knows out of argv):
// names every argument left on standard error ("unknown argument: X") and
// returns false when there was any, true otherwise.
bool no_unknown_arguments(int argc, char** argv);

// Says on standard error which rows of `expected` are missing from `measured`
// ("not measured: ROW", then a count); returns the program's exit status:
// 0 when every row was measured, 1 otherwise.
int measured_status(const std::vector<std::string>& expected, const std::set<std::string>& measured);

// A row of a reported run: its function name, then "/" and its arguments if any.
std::string row_of(const benchmark::BenchmarkReporter::Run& run);

// Prints on the console as usual and keeps the rows that were measured
// (an iteration run without error).
class RowReporter : public benchmark::ConsoleReporter {
public:
    // Reports the runs on the console and records the measured rows.
    void ReportRuns(const std::vector<Run>& report) override;

    std::set<std::string> measured;
};

// Runs the registered benchmarks on a RowReporter and returns the exit status
// of the whole program: 1 when an argument was unknown or a row of `expected`
// was not measured (each named on standard error), 0 otherwise.
int run_rows(int argc, char** argv, const std::vector<std::string>& expected);

}  // namespace kevra_bench
