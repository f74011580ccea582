#include "prometheus_text.hpp"

#include <algorithm>
#include <string_view>

#include "untrusted_text.hpp"

namespace zorvik {
namespace {

void family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// A label's value: controls (line ends too) and broken UTF-8 made visible
// first, then the format's own escapes.
void appendLabel(std::string& out, std::string_view name, std::string_view value) {
    out.append(name).append("=\"");
    for (const char c : visibleText(value)) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    out += '"';
}

}  // namespace

std::string prometheusText(const PrometheusSnapshot& snapshot) {
    std::string out;
    const auto up = std::count_if(snapshot.devices.begin(), snapshot.devices.end(), [](const auto& d) { return d.up; });
    family(out, "zorvik_devices", "gauge", "Zorvik devices that answered in the last wait.");
    out.append("zorvik_devices ").append(std::to_string(up)).append("\n");
    family(out, "zorvik_device_up", "gauge",
           "1 for a device that answered in the last wait, 0 for one expected or present before that did not.");
    for (const auto& device : snapshot.devices) {
        out += "zorvik_device_up{";
        appendLabel(out, "address", device.address);
        appendLabel(out.append(","), "interface", device.interface);
        appendLabel(out.append(","), "label", device.label);
        out.append("} ").append(device.up ? "1" : "0").append("\n");
    }
    family(out, "zorvik_answers_total", "counter", "Answers received since the program started.");
    out.append("zorvik_answers_total ").append(std::to_string(snapshot.answers)).append("\n");
    family(out, "zorvik_dropped_total", "counter",
           "Answers dropped since the program started, by the system's receive buffer or at this program's limits.");
    out.append("zorvik_dropped_total{by=\"system\"} ").append(std::to_string(snapshot.droppedBySystem)).append("\n");
    out.append("zorvik_dropped_total{by=\"program\"} ").append(std::to_string(snapshot.droppedByProgram)).append("\n");
    family(out, "zorvik_last_round_timestamp_seconds", "gauge", "When the last wait ended, in seconds since 1970 (UTC).");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(snapshot.time.time_since_epoch()).count();
    const std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    out.append("zorvik_last_round_timestamp_seconds ").append(std::to_string(ms / 1000)).append(".")
        .append(fraction).append("\n");
    return out;
}

}  // namespace zorvik
