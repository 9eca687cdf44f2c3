#include "bench/support/measured_rows.h"

#include <iostream>

namespace kevra_bench {

bool no_unknown_arguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        std::cerr << "unknown argument: " << argv[i] << std::endl;
    return argc <= 1;
}

int measured_status(const std::vector<std::string>& expected, const std::set<std::string>& measured) {
    size_t missing = 0;
    for (const auto& row : expected) {
        if (measured.count(row) != 0)
            continue;
        std::cerr << "not measured: " << row << std::endl;
        ++missing;
    }
    if (missing == 0)
        return 0;
    std::cerr << missing << " of " << expected.size() << " rows not measured: the run failed" << std::endl;
    return 1;
}

std::string row_of(const benchmark::BenchmarkReporter::Run& run) {
    const auto& name = run.run_name;
    return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

void RowReporter::ReportRuns(const std::vector<Run>& report) {
    ConsoleReporter::ReportRuns(report);
    for (const auto& run : report)
        if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0)
            measured.insert(row_of(run));
}

int run_rows(int argc, char** argv, const std::vector<std::string>& expected) {
    benchmark::Initialize(&argc, argv);
    if (!no_unknown_arguments(argc, argv))
        return 1;
    RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return measured_status(expected, reporter.measured);
}

}  // namespace kevra_bench
