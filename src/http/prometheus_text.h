// The Prometheus text exposition format (version 0.0.4): each metric family
// once, its # HELP and # TYPE lines before its samples.
#pragma once

#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";

class PrometheusText {
 public:
  using Labels = std::vector<std::pair<std::string, std::string>>;

  // Starts a family: type is "counter" or "gauge". Counter names end in
  // _total, by convention.
  void Family(const char* name, const char* type, const char* help);
  // One sample of the family last started (name as given there).
  void Sample(const char* name, double value, const Labels& labels = {});
  // Family and one sample without labels.
  void Counter(const char* name, const char* help, double value);
  void Gauge(const char* name, const char* help, double value);

  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
};

// A value as the format writes it: integers without a fraction, +Inf, NaN.
std::string FormatPrometheusValue(double value);
