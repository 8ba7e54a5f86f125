// How much of the machine's CPU other processes took while this one ran a
// measurement: busy time of all CPUs (/proc/stat, steal included) less this
// process's own CPU time, over the CPUs' total time. On a shared machine it
// says which figures were measured with cores taken away.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace vorn::bench {

class OthersCpu {
 public:
  OthersCpu() { sample(busy_, total_, own_); }

  // Others' share of the CPU since construction, from 0 to 1 (0 where
  // /proc/stat cannot be read).
  double share() const {
    double busy = 0.0, total = 0.0, own = 0.0;
    sample(busy, total, own);
    const double elapsed = total - total_;
    if (elapsed <= 0.0) return 0.0;
    const double others = (busy - busy_) - (own - own_);
    return others <= 0.0 ? 0.0 : others / elapsed;
  }

 private:
  // CPU seconds: busy and total over every CPU, and this process's own.
  static void sample(double& busy, double& total, double& own) {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    busy = (user + nice + system + irq + softirq + steal) / tick;
    total = busy + (idle + iowait) / tick;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    own = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  }

  double busy_ = 0.0, total_ = 0.0, own_ = 0.0;
};

}  // namespace vorn::bench
