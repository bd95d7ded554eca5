// A console reporter that ends with each benchmark's time as a ratio of a
// baseline measured in the same run. Benchmarks name their baseline with the
// label "baseline:NAME", or "baseline:NAME,NAME2,..." for several; NAME is
// the baseline's own benchmark name. Times are wall-clock time per iteration
// (the median with --benchmark_repetitions), so for a benchmark run on
// several threads the ratio to its single-thread run is the inverse of the
// throughput gained.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With --benchmark_repetitions the median stands for the runs.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
      const std::string name = run.run_name.str();
      time_[name] = run.GetAdjustedRealTime();
      const std::string prefix = "baseline:";
      if (run.report_label.rfind(prefix, 0) == 0)
        baseline_[name] = run.report_label.substr(prefix.size());
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, bases] : baseline_) {
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = bases.find(',', start);
        const std::string base = bases.substr(start, comma - start);
        const auto found = time_.find(base);
        if (found != time_.end() && found->second > 0) {
          std::printf("ratio %-48s %6.3fx  of %s\n", name.c_str(), time_[name] / found->second,
                      base.c_str());
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
  }

 private:
  std::map<std::string, double> time_;
  std::map<std::string, std::string> baseline_;
};

#define DEVICECODE_BENCHMARK_MAIN()               \
  int main(int argc, char** argv) {               \
    benchmark::Initialize(&argc, argv);           \
    RatioReporter reporter;                       \
    benchmark::RunSpecifiedBenchmarks(&reporter); \
    benchmark::Shutdown();                        \
    return 0;                                     \
  }
