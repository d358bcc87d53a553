// A console reporter that also keeps each benchmark's items per second, so a benchmark can print ratios.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace corvanebench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto found = run.counters.find("items_per_second");
      if (found != run.counters.end()) rates_[run.benchmark_name()] = found->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Items per second of the first benchmark whose name starts with prefix, or 0.
  double Rate(const std::string& prefix) const {
    for (const auto& [name, rate] : rates_) {
      if (name.rfind(prefix, 0) == 0) return rate;
    }
    return 0;
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace corvanebench
