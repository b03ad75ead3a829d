#include "audio/CpuMeter.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "diag/DiagLog.h"

namespace trelvo::audio {

CpuMeter::CpuMeter(std::string statPath) : path(std::move(statPath)) {}

void CpuMeter::report(const std::string& message) {
    ++errors;
    diag::hookedLogError(message);
}

int CpuMeter::processorCount() {
    if (count < 0 && errors == 0) Sample();
    return count;
}

bool CpuMeter::Sample() {
    std::ifstream in(path);
    if (!in) {
        report("Unable to read performance data");
        return false;
    }
    std::vector<std::uint64_t> busy, total;
    std::uint64_t totalBusy = 0, totalAll = 0;
    bool sawTotal = false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("cpu", 0) != 0) continue;
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        std::uint64_t value = 0, sum = 0, idle = 0;
        for (int i = 0; fields >> value; ++i) {
            sum += value;
            if (i == 3 || i == 4) idle += value; // idle and iowait
        }
        if (name == "cpu") {
            sawTotal = true;
            totalBusy = sum - idle;
            totalAll = sum;
        } else {
            busy.push_back(sum - idle);
            total.push_back(sum);
        }
    }
    if (!sawTotal || busy.empty()) {
        report("Unable to locate the \"Processor\" performance object");
        return false;
    }
    busy.push_back(totalBusy);
    total.push_back(totalAll);
    if (count < 0) {
        count = static_cast<int>(busy.size());
        currentBusy = busy;
        currentTotal = total;
    }
    if (static_cast<int>(busy.size()) != count) {
        report("Unable to locate the \"% of CPU usage\" performance counter");
        return false;
    }
    previousBusy = currentBusy;
    previousTotal = currentTotal;
    currentBusy = std::move(busy);
    currentTotal = std::move(total);
    return errors == 0;
}

double CpuMeter::Usage(int index) {
    if (index < 0 || index >= count) {
        report("CPU index out of bounds");
        return 0.0;
    }
    const auto i = static_cast<std::size_t>(index);
    const double elapsed = static_cast<double>(currentTotal[i] - previousTotal[i]);
    if (elapsed <= 0.0) return 0.0;
    return static_cast<double>(currentBusy[i] - previousBusy[i]) / elapsed;
}

std::string CpuMeter::loadText() {
    if (errors > 0 || !Sample() || count < 2) return {};
    std::string text;
    for (int i = 0; i + 1 < count; ++i) {
        if (!text.empty()) text += "    ";
        char value[16];
        std::snprintf(value, sizeof value, "%.0f%%", std::fabs(Usage(i)) * 100.0);
        text += value;
    }
    return text;
}

} // namespace trelvo::audio
