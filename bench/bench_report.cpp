// tavolen-bench's report: the table of every column's figures, and the
// targets each column meets or misses.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench.h"

namespace bench {

double ComputeQuantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const std::size_t rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

namespace {

// The targets, judged on the medians of the rounds under a display server.
constexpr double kLatencyP99TargetMs = 1.0;
constexpr double kLatencyMaxTargetMs = 5.0;
constexpr double kBoundedLatencyMs = 200.0;
constexpr double kRatioTarget = 0.8;
constexpr double kServerRatioTarget = 0.5;
constexpr double kSystemCallRatioTarget = 1.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

double FindMedian(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return ComputeQuantile(values, 0.5);
}

// "0.537 ms (0.501 to 0.612, 5 runs)": the median, the lowest and the
// highest; "-" for no values.
std::string FormatSpread(const std::vector<double>& values, const char* format, const char* unit,
                         const char* what = "runs") {
    if (values.empty()) return "-";
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    return Format(format, FindMedian(values)) + unit + " (" + Format(format, *lowest) + " to " +
           Format(format, *highest) + ", " + std::to_string(values.size()) + " " + what + ")";
}

using Runs = std::vector<Figures>;

// One figure of every run that has it; per second of the window when
// perSecond.
std::vector<double> Collect(const Runs& runs, const char* key, bool perSecond = false) {
    std::vector<double> values;
    for (const Figures& figures : runs) {
        const auto found = figures.find(key);
        if (found != figures.end()) values.push_back(found->second / (perSecond ? figures.at("window_s") : 1));
    }
    return values;
}

Runs Programs(const ColumnResult& r) {
    Runs runs;
    for (const Pair& pair : r.pairs) runs.push_back(pair.program);
    return runs;
}

Runs Bares(const ColumnResult& r) {
    Runs runs;
    for (const Pair& pair : r.pairs) runs.push_back(pair.bare);
    return runs;
}

// The program's figure over the bare window's, pair by pair.
std::vector<double> CollectRatios(const ColumnResult& r, const char* key) {
    std::vector<double> ratios;
    for (const Pair& pair : r.pairs) {
        if (pair.program.count(key) == 0 || pair.bare.count(key) == 0 || pair.bare.at(key) <= 0) continue;
        ratios.push_back(pair.program.at(key) / pair.bare.at(key));
    }
    return ratios;
}

std::string FormatMost(const Runs& runs, const char* key) {
    const std::vector<double> values = Collect(runs, key);
    if (values.empty()) return "-";
    const double frames = [&] {
        double sum = 0;
        for (double peeks : Collect(runs, "waiting_peeks")) sum += peeks;
        return sum;
    }();
    return Format("%.0f", *std::max_element(values.begin(), values.end())) + " (" + std::to_string(values.size()) +
           " runs, " + Format("%.0f", frames) + " frames)";
}

using Cell = std::string;
using CellMaker = Cell (*)(const ColumnResult&);

struct Row {
    const char* label;
    CellMaker make;
};

const Row kRows[] = {
    {"start-up: open to first frame", [](const ColumnResult& r) { return FormatSpread(r.startupFrameMs, "%.1f", " ms"); }},
    {"start-up: open to reader's first repaint", [](const ColumnResult& r) { return FormatSpread(r.startupRepaintMs, "%.1f", " ms"); }},
    {"latency at 100/s: median", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "latency_median_ms"), "%.3f", " ms"); }},
    {"latency at 100/s: 99th percentile", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "latency_p99_ms"), "%.3f", " ms"); }},
    {"latency at 100/s: maximum", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "latency_max_ms"), "%.3f", " ms"); }},
    {"latency at 1000/s: median", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency1000, "latency_median_ms"), "%.3f", " ms"); }},
    {"latency at 1000/s: 99th percentile", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency1000, "latency_p99_ms"), "%.3f", " ms"); }},
    {"latency at 1000/s: maximum", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency1000, "latency_max_ms"), "%.3f", " ms"); }},
    {"reports read per second at 100/s", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "reports", true), "%.1f", ""); }},
    {"frames painted per second at 100/s", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "frames", true), "%.1f", ""); }},
    {"repaints waiting in the queue, most, at 100/s", [](const ColumnResult& r) { return FormatMost(r.latency100, "waiting_max"); }},
    {"reports read per second at 1000/s", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency1000, "reports", true), "%.1f", ""); }},
    {"frames painted per second at 1000/s", [](const ColumnResult& r) { return FormatSpread(Collect(r.latency1000, "frames", true), "%.1f", ""); }},
    {"repaints waiting in the queue, most, at 1000/s", [](const ColumnResult& r) { return FormatMost(r.latency1000, "waiting_max"); }},
    {"processor per second: program at 100/s", [](const ColumnResult& r) { return FormatSpread(Collect(Programs(r), "cpu_per_s"), "%.4f", " s/s"); }},
    {"processor per second: bare window at 100/s", [](const ColumnResult& r) { return FormatSpread(Collect(Bares(r), "cpu_per_s"), "%.4f", " s/s"); }},
    {"processor ratio program / bare window", [](const ColumnResult& r) { return FormatSpread(CollectRatios(r, "cpu_per_s"), "%.2f", "", "pairs"); }},
    {"display server's processor per second: program", [](const ColumnResult& r) { return FormatSpread(Collect(Programs(r), "server_per_s"), "%.4f", " s/s"); }},
    {"display server's processor per second: bare window", [](const ColumnResult& r) { return FormatSpread(Collect(Bares(r), "server_per_s"), "%.4f", " s/s"); }},
    {"display server ratio program / bare window", [](const ColumnResult& r) { return FormatSpread(CollectRatios(r, "server_per_s"), "%.2f", "", "pairs"); }},
    {"system calls per frame: program", [](const ColumnResult& r) { return FormatSpread(Collect(Programs(r), "syscalls_per_frame"), "%.1f", ""); }},
    {"system calls per frame: bare window", [](const ColumnResult& r) { return FormatSpread(Collect(Bares(r), "syscalls_per_frame"), "%.1f", ""); }},
    {"system call ratio program / bare window", [](const ColumnResult& r) { return FormatSpread(CollectRatios(r, "syscalls_per_frame"), "%.2f", "", "pairs"); }},
    {"voluntary context switches per frame: program", [](const ColumnResult& r) { return FormatSpread(Collect(Programs(r), "vcsw_per_frame"), "%.2f", ""); }},
    {"voluntary context switches per frame: bare window", [](const ColumnResult& r) { return FormatSpread(Collect(Bares(r), "vcsw_per_frame"), "%.2f", ""); }},
    {"frames painted per second: program in the pairs", [](const ColumnResult& r) { return FormatSpread(Collect(Programs(r), "frames", true), "%.1f", ""); }},
    {"frames painted per second: bare window", [](const ColumnResult& r) { return FormatSpread(Collect(Bares(r), "frames", true), "%.1f", ""); }},
    {"rest of the machine's processor per second, pairs",
     [](const ColumnResult& r) {
         std::vector<double> values = Collect(Programs(r), "others_per_s");
         for (double value : Collect(Bares(r), "others_per_s")) values.push_back(value);
         return FormatSpread(values, "%.2f", " s/s");
     }},
    {"peak resident memory: program",
     [](const ColumnResult& r) {
         std::vector<double> values = Collect(Programs(r), "child_maxrss_kib");
         for (const Runs* runs : {&r.latency100, &r.latency1000}) {
             for (double value : Collect(*runs, "child_maxrss_kib")) values.push_back(value);
         }
         for (double& value : values) value /= 1024;
         return FormatSpread(values, "%.1f", " MiB");
     }},
    {"peak resident memory: bare window",
     [](const ColumnResult& r) {
         std::vector<double> values = Collect(Bares(r), "child_maxrss_kib");
         for (double& value : values) value /= 1024;
         return FormatSpread(values, "%.1f", " MiB");
     }},
    {"recording (--record) at 100/s: bytes per minute",
     [](const ColumnResult& r) { return FormatSpread(Collect(r.latency100, "recording_bytes_per_min"), "%.0f", ""); }},
};

std::string ReadCpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("model name")) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

}  // namespace

void PrintTable(const std::vector<Column>& columns, const std::vector<ColumnResult>& results, const Plan& plan) {
    std::printf("Tavolen benchmark: the program with the simulated remote, %d rounds, %.1f s windows after %.1f s\n",
                plan.rounds, plan.windowMs / 1000.0, (kSettleMs + plan.warmupMs) / 1000.0);
    std::printf("machine: %u processors, %s\n\n", std::thread::hardware_concurrency(), ReadCpuModel().c_str());
    constexpr int kLabelWidth = 51;
    constexpr int kCellWidth = 44;
    std::printf("%-*s", kLabelWidth, "figure: median (lowest to highest, count)");
    for (const Column& column : columns) std::printf(" | %-*s", kCellWidth, column.title.c_str());
    std::printf("\n");
    for (const Row& row : kRows) {
        // Only a run that records has a recording to measure.
        if (!plan.record && std::string_view(row.label).starts_with("recording")) continue;
        std::printf("%-*s", kLabelWidth, row.label);
        for (const ColumnResult& result : results) {
            std::printf(" | %-*s", kCellWidth, result.ran ? row.make(result).c_str() : "not run");
        }
        std::printf("\n");
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (results[i].unsettled > 0) {
            std::printf("note: %s: %d run(s) had their first repaint after the window began\n",
                        columns[i].title.c_str(), results[i].unsettled);
        }
        if (results[i].failed > 0) {
            std::printf("note: %s: %d run(s) gave no figures\n", columns[i].title.c_str(), results[i].failed);
        }
        if (results[i].ran && !results[i].pairs.empty() && Collect(Programs(results[i]), "syscalls_per_frame").empty()) {
            std::printf("note: %s: system calls not counted: the kernel's raw_syscalls:sys_enter tracepoint needs root,\n"
                        "      CAP_PERFMON or kernel.perf_event_paranoid=-1, and tracefs\n",
                        columns[i].title.c_str());
        }
    }

    std::printf("\ntargets (medians of the rounds, under a display server):\n");
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnResult& r = results[i];
        const char* title = columns[i].title.c_str();
        if (!r.ran) continue;
        if (columns[i].serverPid == 0) {
            std::printf("  %-17s figures only: no display server to judge against\n", title);
            continue;
        }
        auto Say = [&](const char* what, const std::vector<double>& values, double limit, bool strict, const char* unit,
                       const char* count = "runs") {
            if (values.empty()) {
                std::printf("  %-17s %-58s %-6s %s\n", title, what, "MISSED", "no figures");
                return;
            }
            const double median = FindMedian(values);
            const bool met = strict ? median < limit : median <= limit;
            std::printf("  %-17s %-58s %-6s %s\n", title, what, met ? "met" : "MISSED",
                        FormatSpread(values, "%.3f", unit, count).c_str());
        };
        Say("processor ratio program / bare window at most 0.8", CollectRatios(r, "cpu_per_s"), kRatioTarget, false, "",
            "pairs");
        Say("display server ratio program / bare window at most 0.5", CollectRatios(r, "server_per_s"),
            kServerRatioTarget, false, "", "pairs");
        Say("system calls per frame program / bare window at most 1", CollectRatios(r, "syscalls_per_frame"),
            kSystemCallRatioTarget, false, "", "pairs");
        Say("99th-percentile latency at 100/s under 1 ms", Collect(r.latency100, "latency_p99_ms"),
            kLatencyP99TargetMs, true, " ms");
        Say("maximum latency at 100/s under 5 ms", Collect(r.latency100, "latency_max_ms"), kLatencyMaxTargetMs,
            true, " ms");
        // Bounded: no report waits longer than a fifth of a second, far below
        // what a growing backlog reaches over the window.
        Say("at 1000/s latency bounded (maximum under 200 ms)", Collect(r.latency1000, "latency_max_ms"),
            kBoundedLatencyMs, true, " ms");
        // The latch allows one repaint in the queue: held in every run.
        const std::vector<double> waiting = Collect(r.latency1000, "waiting_max");
        const double most = waiting.empty() ? 0 : *std::max_element(waiting.begin(), waiting.end());
        std::printf("  %-17s %-58s %-6s %s\n", title, "at 1000/s at most one repaint waiting (every run)",
                    !waiting.empty() && most <= 1 ? "met" : "MISSED", FormatMost(r.latency1000, "waiting_max").c_str());
    }
}

}  // namespace bench
