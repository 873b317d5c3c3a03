#include "reports/report_charts.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "reports/report_escape.h"
#include "reports/report_time.h"

namespace pelvaron {
namespace {

constexpr double kLeft = 48, kRight = 704, kTop = 24, kBottom = 190;
constexpr std::size_t kMaxLabels = 24;
constexpr std::int64_t kHour = 3600;
constexpr std::size_t kAckBars = 24;

// For priorities that bring no colour of their own.
constexpr std::array<std::string_view, 8> kPalette{"#E03030", "#D040B0", "#F08020", "#D0B000",
                                                   "#4080E0", "#8080D0", "#40A080", "#909090"};

bool IsColour(const std::string& c) {
  if (c.size() != 7 || c[0] != '#') return false;
  return std::all_of(c.begin() + 1, c.end(), [](char h) {
    return (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
  });
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// A step of 1, 2 or 5 times a power of ten giving at most five lines up to max.
std::size_t GridStep(std::size_t max) {
  std::size_t step = 1;
  for (;;) {
    for (std::size_t m : {1u, 2u, 5u}) {
      if (max <= step * m * 5) return step * m;
    }
    step *= 10;
  }
}

void BeginChart(std::string& out, std::string_view title, double height) {
  out += "<svg width=\"720\" height=\"" + Number(height) + "\" viewBox=\"0 0 720 " + Number(height) +
         "\" role=\"img\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"11\"><title>";
  AppendHtml(out, title);
  out += "</title>\n";
}

void Text(std::string& out, double x, double y, std::string_view text, std::string_view anchor = "middle") {
  out += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"";
  out += anchor;
  out += "\">";
  AppendHtml(out, text);
  out += "</text>\n";
}

void Rect(std::string& out, double x, double y, double w, double h, std::string_view fill,
          std::string_view tip) {
  out += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(w) + "\" height=\"" +
         Number(h) + "\" fill=\"";
  out += fill;
  out += "\"><title>";
  AppendHtml(out, tip);
  out += "</title></rect>\n";
}

// The value axis: lines across the plot with their numbers; the scale's top.
std::size_t ValueAxis(std::string& out, std::size_t max) {
  const std::size_t step = GridStep(std::max<std::size_t>(max, 1));
  const std::size_t top = (std::max<std::size_t>(max, 1) + step - 1) / step * step;
  for (std::size_t v = 0; v <= top; v += step) {
    const double y = kBottom - (kBottom - kTop) * static_cast<double>(v) / static_cast<double>(top);
    out += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(y) + "\" x2=\"" + Number(kRight) + "\" y2=\"" +
           Number(y) + "\" stroke=\"" + (v == 0 ? "#000" : "#ccc") + "\" stroke-width=\"1\"/>\n";
    Text(out, kLeft - 6, y + 4, std::to_string(v), "end");
  }
  return top;
}

std::string HourLabel(const HourlyAlarms& h, std::size_t i) {
  if (h.byHourOfDay) {
    char text[24];
    std::snprintf(text, sizeof text, "%02zu", i);
    return text;
  }
  return ClockText(h.firstHour + static_cast<std::int64_t>(i) * kHour).substr(0, 2);
}

}  // namespace

HourlyAlarms CountAlarmsPerHour(const ShiftReport& report) {
  HourlyAlarms h;
  h.byHourOfDay = report.to - report.from > 72 * kHour;
  std::size_t hours = 24;
  if (!h.byHourOfDay) {
    h.firstHour = LocalHourStart(report.from);
    hours =
        static_cast<std::size_t>(std::max<std::int64_t>(1, (report.to - h.firstHour + kHour - 1) / kHour));
  }
  h.counts.assign(hours, std::vector<std::size_t>(report.byPriority.size(), 0));
  std::size_t index = 0;
  std::string_view previous;
  LocalTimes local;
  for (const AlarmTimes& t : report.alarms) {
    const std::string& name = t.alarm->priority;
    // Alarms come in runs of one priority often enough to skip the search.
    if (name != previous) {
      index = 0;
      while (index < report.byPriority.size() && report.byPriority[index].name != name) ++index;
      previous = name;
    }
    if (index >= report.byPriority.size()) continue;
    const std::size_t bar = h.byHourOfDay ? static_cast<std::size_t>(local.At(t.alarm->time).tm_hour)
                                          : static_cast<std::size_t>((t.alarm->time - h.firstHour) / kHour);
    ++h.counts[std::min(bar, hours - 1)][index];
  }
  return h;
}

void AppendAlarmsPerHourChart(std::string& out, const ShiftReport& report) {
  const HourlyAlarms h = CountAlarmsPerHour(report);
  const std::string title = h.byHourOfDay ? "Тревоги по часам суток" : "Тревоги по часам";
  const std::size_t legendRows = (report.byPriority.size() + 3) / 4;
  BeginChart(out, title, kBottom + 36 + 18.0 * static_cast<double>(legendRows));

  std::size_t max = 0;
  for (const auto& bar : h.counts) {
    std::size_t sum = 0;
    for (std::size_t c : bar) sum += c;
    max = std::max(max, sum);
  }
  const std::size_t top = ValueAxis(out, max);
  const double scale = (kBottom - kTop) / static_cast<double>(top);
  const double slot = (kRight - kLeft) / static_cast<double>(h.counts.size());
  const std::size_t every = (h.counts.size() + kMaxLabels - 1) / kMaxLabels;

  std::vector<std::string> colours;
  for (std::size_t p = 0; p < report.byPriority.size(); ++p) {
    const std::string& c = report.byPriority[p].colour;
    colours.push_back(IsColour(c) ? c : std::string(kPalette[p % kPalette.size()]));
  }
  for (std::size_t i = 0; i < h.counts.size(); ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    double y = kBottom;
    for (std::size_t p = 0; p < h.counts[i].size(); ++p) {
      const std::size_t n = h.counts[i][p];
      if (n == 0) continue;
      const double height = scale * static_cast<double>(n);
      y -= height;
      Rect(out, x + slot * 0.1, y, slot * 0.8, height, colours[p],
           HourLabel(h, i) + " ч, " + report.byPriority[p].title + ": " + std::to_string(n));
    }
    if (i % every == 0) Text(out, x + slot / 2, kBottom + 14, HourLabel(h, i));
  }
  if (max == 0) Text(out, (kLeft + kRight) / 2, (kTop + kBottom) / 2, "Тревог не было");
  for (std::size_t p = 0; p < report.byPriority.size(); ++p) {
    const double x = kLeft + 165.0 * static_cast<double>(p % 4),
                 y = kBottom + 30 + 18.0 * static_cast<double>(p / 4);
    Rect(out, x, y - 10, 12, 12, colours[p], report.byPriority[p].title);
    Text(out, x + 18, y, report.byPriority[p].title + " (" + std::to_string(report.byPriority[p].count) + ")",
         "start");
  }
  out += "</svg>\n";
}

AckDistribution DistributeAckTimes(const ShiftReport& report) {
  AckDistribution d;
  const std::int64_t longest =
      std::max<std::int64_t>({report.thresholds.ackSeconds, report.thresholds.closeSeconds,
                              static_cast<std::int64_t>(kAckBars) / 2});
  d.width = (2 * longest + static_cast<std::int64_t>(kAckBars) - 1) / static_cast<std::int64_t>(kAckBars);
  d.counts.assign(kAckBars + 1, 0);
  for (const AlarmTimes& t : report.alarms) {
    if (!t.ackSeconds) continue;
    const std::int64_t s = *t.ackSeconds;
    const std::size_t bar = s <= 0 ? 0 : static_cast<std::size_t>((s - 1) / d.width);
    ++d.counts[std::min(bar, kAckBars)];
  }
  return d;
}

void AppendAckDistributionChart(std::string& out, const ShiftReport& report) {
  const AckDistribution d = DistributeAckTimes(report);
  BeginChart(out, "Время до подтверждения", kBottom + 40);
  const std::size_t max = *std::max_element(d.counts.begin(), d.counts.end());
  const std::size_t top = ValueAxis(out, max);
  const double scale = (kBottom - kTop) / static_cast<double>(top);
  const double slot = (kRight - kLeft) / static_cast<double>(d.counts.size());
  const ReportThresholds& limit = report.thresholds;

  for (std::size_t i = 0; i < d.counts.size(); ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    const std::int64_t upper = static_cast<std::int64_t>(i + 1) * d.width;
    const bool last = i == kAckBars;
    const std::string span = last ? "более " + std::to_string(upper - d.width) + " с"
                                  : std::to_string(upper - d.width) + "–" + std::to_string(upper) + " с";
    if (d.counts[i] > 0) {
      const std::string_view colour = last || upper > limit.closeSeconds ? "#D04040"
                                      : upper > limit.ackSeconds         ? "#E0A030"
                                                                         : "#40A050";
      const double height = scale * static_cast<double>(d.counts[i]);
      Rect(out, x + slot * 0.08, kBottom - height, slot * 0.84, height, colour,
           span + ": " + std::to_string(d.counts[i]));
    }
    if (i % 4 == 0) Text(out, x, kBottom + 14, std::to_string(upper - d.width));
    if (last) Text(out, x + slot / 2, kBottom + 14, ">");
  }
  if (max == 0) Text(out, (kLeft + kRight) / 2, (kTop + kBottom) / 2, "Подтверждённых тревог не было");
  // The thresholds where their seconds fall on the axis.
  // The acknowledgement's name left of its line, the close's right of its, so
  // that they never overlap.
  const auto mark = [&](std::int64_t seconds, std::string_view name, std::string_view colour, bool left) {
    const double bars = static_cast<double>(seconds) / static_cast<double>(d.width);
    if (seconds <= 0 || bars > static_cast<double>(kAckBars)) return;
    const double x = kLeft + slot * bars;
    out += "<line x1=\"" + Number(x) + "\" y1=\"" + Number(kTop - 8) + "\" x2=\"" + Number(x) + "\" y2=\"" +
           Number(kBottom) + "\" stroke=\"";
    out += colour;
    out += "\" stroke-width=\"2\" stroke-dasharray=\"5,3\"/>\n";
    const std::string label = std::string(name) + " " + std::to_string(seconds) + " с";
    if (left && x > 165) {
      Text(out, x - 4, kTop - 10, label, "end");
    } else {
      Text(out, x + 4, left ? kTop + 4 : kTop - 10, label, "start");
    }
  };
  mark(limit.ackSeconds, "порог подтверждения", "#206020", true);
  mark(limit.closeSeconds, "порог закрытия", "#902020", false);
  Text(out, (kLeft + kRight) / 2, kBottom + 32, "секунд от тревоги до подтверждения");
  out += "</svg>\n";
}

}  // namespace pelvaron
