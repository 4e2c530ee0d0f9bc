// tavolen-bench's report: the table of every column's figures, and the
// targets each column meets or misses.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench.h"

namespace bench {
namespace {

constexpr double kLatencyTargetMs = 2.0;
constexpr double kRatioTarget = 1.25;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string FormatWithCount(const std::string& value, double count, const char* unit) {
    return value + " (n=" + Format("%.0f", count) + (unit[0] != '\0' ? " " : "") + unit + ")";
}

double FindMedian(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return ComputeQuantile(values, 0.5);
}

using Cell = std::string;
using CellMaker = Cell (*)(const ColumnResult&);

const Figures* Get(const std::optional<Figures>& figures) { return figures ? &*figures : nullptr; }

Cell MakeLatencyCell(const Figures* figures, const char* key) {
    if (figures == nullptr || (*figures).at("latency_n") == 0) return "-";
    return FormatWithCount(Format("%.3f ms", figures->at(key)), figures->at("latency_n"), "reports");
}

Cell MakeRateCell(const Figures* figures, const char* key) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.1f", figures->at(key) / figures->at("window_s")), figures->at(key),
                           Format("in %.1f s", figures->at("window_s")).c_str());
}

Cell MakeWaitingCell(const Figures* figures) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.0f", figures->at("waiting_max")), figures->at("waiting_peeks"), "frames");
}

Cell MakeCpuCell(const Figures* figures) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.4f s/s", figures->at("cpu_per_s")), 1,
                           Format("run of %.1f s", figures->at("window_s")).c_str());
}

std::optional<double> ComputeRatio(const ColumnResult& result) {
    if (!result.cpu || !result.baseline || result.baseline->at("cpu_per_s") <= 0) return std::nullopt;
    return result.cpu->at("cpu_per_s") / result.baseline->at("cpu_per_s");
}

struct Row {
    const char* label;
    CellMaker make;
};

const Row kRows[] = {
    {"start-up: open to first frame (median)",
     [](const ColumnResult& r) -> Cell {
         if (r.startupFrameMs.empty()) return "-";
         return FormatWithCount(Format("%.1f ms", FindMedian(r.startupFrameMs)), static_cast<double>(r.startupFrameMs.size()), "runs");
     }},
    {"start-up: open to reader's first repaint (median)",
     [](const ColumnResult& r) -> Cell {
         if (r.startupRepaintMs.empty()) return "-";
         return FormatWithCount(Format("%.1f ms", FindMedian(r.startupRepaintMs)), static_cast<double>(r.startupRepaintMs.size()), "runs");
     }},
    {"latency at 100/s: median", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_median_ms"); }},
    {"latency at 100/s: 99th percentile", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_p99_ms"); }},
    {"latency at 100/s: maximum", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_max_ms"); }},
    {"latency at 1000/s: median", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_median_ms"); }},
    {"latency at 1000/s: 99th percentile", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_p99_ms"); }},
    {"latency at 1000/s: maximum", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_max_ms"); }},
    {"reports read per second at 100/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency100), "reports"); }},
    {"frames painted per second at 100/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency100), "frames"); }},
    {"repaints waiting in the queue, most, at 100/s", [](const ColumnResult& r) { return MakeWaitingCell(Get(r.latency100)); }},
    {"reports read per second at 1000/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency1000), "reports"); }},
    {"frames painted per second at 1000/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency1000), "frames"); }},
    {"repaints waiting in the queue, most, at 1000/s", [](const ColumnResult& r) { return MakeWaitingCell(Get(r.latency1000)); }},
    {"processor per wall second: program at 100/s", [](const ColumnResult& r) { return MakeCpuCell(Get(r.cpu)); }},
    {"frames painted per second in that run", [](const ColumnResult& r) { return MakeRateCell(Get(r.cpu), "frames"); }},
    {"processor per wall second: baseline window", [](const ColumnResult& r) { return MakeCpuCell(Get(r.baseline)); }},
    {"frames painted per second by the baseline", [](const ColumnResult& r) { return MakeRateCell(Get(r.baseline), "frames"); }},
    {"processor ratio program / baseline",
     [](const ColumnResult& r) -> Cell {
         const std::optional<double> ratio = ComputeRatio(r);
         return ratio ? FormatWithCount(Format("%.2f", *ratio), 1, "pair of runs") : "-";
     }},
    {"other processes' processor per second, in windows",
     [](const ColumnResult& r) -> Cell {
         std::string text;
         int windows = 0;
         for (const std::optional<Figures>* figures : {&r.latency100, &r.latency1000, &r.cpu, &r.baseline}) {
             text += (text.empty() ? "" : " ") + (*figures ? Format("%.2f", (**figures).at("others_per_s")) : "-");
             windows += *figures ? 1 : 0;
         }
         return FormatWithCount(text, windows, "windows");
     }},
    {"peak resident memory: program (most of its runs)",
     [](const ColumnResult& r) -> Cell {
         double most = 0;
         int runs = 0;
         for (const std::optional<Figures>* figures : {&r.latency100, &r.latency1000, &r.cpu}) {
             if (!*figures) continue;
             most = std::max(most, (**figures).at("child_maxrss_kib"));
             ++runs;
         }
         return runs == 0 ? "-" : FormatWithCount(Format("%.1f MiB", most / 1024), runs, "runs");
     }},
    {"peak resident memory: baseline window",
     [](const ColumnResult& r) -> Cell {
         if (!r.baseline) return "-";
         return FormatWithCount(Format("%.1f MiB", r.baseline->at("child_maxrss_kib") / 1024), 1, "run");
     }},
    {"recording (--record) at 100/s: bytes per minute", [](const ColumnResult& r) -> Cell {
        const Figures* figures = Get(r.latency100);
        if (figures == nullptr || figures->count("recording_bytes_per_min") == 0) return "-";
        return Format("%.0f", figures->at("recording_bytes_per_min"));
    }},
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
    std::printf("Tavolen benchmark: the program with the simulated remote, %.1f s windows after %.1f s\n",
                plan.windowMs / 1000.0, (kSettleMs + plan.warmupMs) / 1000.0);
    std::printf("machine: %u processors, %s\n\n", std::thread::hardware_concurrency(), ReadCpuModel().c_str());
    constexpr int kLabelWidth = 52;
    constexpr int kCellWidth = 40;
    std::printf("%-*s", kLabelWidth, "figure");
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
    }

    std::printf("\ntargets:\n");
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnResult& r = results[i];
        if (!r.ran) continue;
        const char* title = columns[i].title.c_str();
        auto Say = [&](const char* what, bool met, const std::string& value) {
            std::printf("  %-17s %-50s %-6s %s\n", title, what, met ? "met" : "MISSED", value.c_str());
        };
        if (r.latency100) {
            const double p99 = r.latency100->at("latency_p99_ms");
            Say("99th-percentile latency at 100/s under 2 ms", p99 < kLatencyTargetMs && r.latency100->at("latency_n") > 0,
                Format("%.3f ms", p99));
        }
        if (r.latency1000) {
            const double waiting = r.latency1000->at("waiting_max");
            Say("at 1000/s at most one repaint waiting", waiting <= 1, Format("%.0f", waiting));
            const double max = r.latency1000->at("latency_max_ms");
            // Bounded: no report waits longer than a fifth of a second, far
            // below what a growing backlog reaches over the window.
            Say("at 1000/s latency bounded (max under 200 ms)", max < 200 && r.latency1000->at("latency_n") > 0,
                Format("max %.3f ms", max));
        }
        if (const std::optional<double> ratio = ComputeRatio(r)) {
            Say("processor ratio to the baseline at most 1.25", *ratio <= kRatioTarget, Format("%.2f", *ratio));
        }
    }
}

}  // namespace bench
