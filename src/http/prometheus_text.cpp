#include "http/prometheus_text.h"

#include <cmath>

#include "text/string_printf.h"

namespace {

// Help text: backslash and line feed escaped; label values also the quote.
std::string Escape(const std::string& s, bool quote) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (quote && c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FormatPrometheusValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // Counters of this size are exact in a double; print them as integers.
  if (value == std::floor(value) && std::fabs(value) < 9.007199254740992e15) return StringPrintf("%.0f", value);
  return StringPrintf("%.17g", value);
}

void PrometheusText::Family(const char* name, const char* type, const char* help) {
  m_text += StringPrintf("# HELP %s %s\n# TYPE %s %s\n", name, Escape(help, false).c_str(), name, type);
}

void PrometheusText::Sample(const char* name, double value, const Labels& labels) {
  m_text += name;
  if (!labels.empty()) {
    m_text += '{';
    for (size_t i = 0; i < labels.size(); ++i)
      m_text +=
          StringPrintf("%s%s=\"%s\"", i ? "," : "", labels[i].first.c_str(), Escape(labels[i].second, true).c_str());
    m_text += '}';
  }
  m_text += ' ' + FormatPrometheusValue(value) + '\n';
}

void PrometheusText::Counter(const char* name, const char* help, double value) {
  Family(name, "counter", help);
  Sample(name, value);
}

void PrometheusText::Gauge(const char* name, const char* help, double value) {
  Family(name, "gauge", help);
  Sample(name, value);
}
