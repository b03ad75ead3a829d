#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelvo::audio {

/// How busy each processor is, from the kernel's cumulative processor times
/// (/proc/stat): one instance per processor, and the total over all of them as the last.
/// Thread: user interface.
class CpuMeter {
public:
    explicit CpuMeter(std::string statPath = "/proc/stat");

    /// Instances (processors + 1 for the total); takes a first sample when unknown.
    int processorCount();
    /// Takes a new reading; false once any reading has failed (the load is then no longer
    /// shown for the rest of the run).
    bool Sample();
    /// The busy fraction of an instance between the last two samples, 0.0 to 1.0.
    /// An index out of range logs "CPU index out of bounds" and gives 0.
    double Usage(int index);
    /// The display text: one percentage per processor (the total left out), each followed
    /// by "%", separated by four spaces. Empty when no reading is available.
    std::string loadText();

    int errorCount() const noexcept { return errors; }

private:
    void report(const std::string& message);

    std::string path;
    int count = -1;
    std::vector<std::uint64_t> previousBusy, previousTotal, currentBusy, currentTotal;
    int errors = 0;
};

} // namespace trelvo::audio
