#include "standin/server/Faults.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace standin {
namespace {

bool ParseInt(std::string_view s, std::int64_t& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc{} && p == s.data() + s.size() && out >= 0;
}

}  // namespace

bool ContainsNoCase(std::string_view h, std::string_view n) {
  if (n.empty()) return true;
  auto it = std::search(h.begin(), h.end(), n.begin(), n.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
  return it != h.end();
}

std::string FaultConfig::Add(std::string_view spec) {
  auto colon = spec.find(':');
  if (colon == std::string_view::npos) return "fault needs KIND:ARGUMENTS";
  auto kind = spec.substr(0, colon);
  auto rest = spec.substr(colon + 1);
  std::int64_t n;
  if (kind == "drop-after") {
    if (!ParseInt(rest, n)) return "drop-after needs a statement count";
    dropAfter = n;
  } else if (kind == "drop-on") {
    if (rest.empty()) return "drop-on needs a pattern";
    dropOn.emplace_back(rest);
  } else if (kind == "delay") {
    if (!ParseInt(rest, n) || n > 600000) return "delay needs milliseconds (0 to 600000)";
    delayMs = static_cast<int>(n);
  } else if (kind == "fail") {
    auto c2 = rest.find(':');
    if (c2 == std::string_view::npos || !ParseInt(rest.substr(0, c2), n) || n > 2147483647)
      return "fail needs NUMBER:PATTERN[|TEXT]";
    Failure f;
    f.number = static_cast<int>(n);
    auto body = rest.substr(c2 + 1);
    auto bar = body.find('|');
    f.pattern = std::string(body.substr(0, bar));
    if (f.pattern.empty()) return "fail needs a non-empty pattern";
    f.text = bar == std::string_view::npos
                 ? "Statement failed by the stand-in's fault 'fail:" + std::to_string(n) + ":" +
                       f.pattern + "'."
                 : std::string(body.substr(bar + 1));
    failures.push_back(std::move(f));
  } else if (kind == "fail-at" || kind == "fail-at-step") {
    const bool step = kind == "fail-at-step";
    const std::string usage =
        std::string(kind) + (step ? " needs K:NUMBER[|TEXT]" : " needs N:NUMBER[|TEXT]");
    auto c2 = rest.find(':');
    std::int64_t number;
    if (c2 == std::string_view::npos || !ParseInt(rest.substr(0, c2), n)) return usage;
    auto body = rest.substr(c2 + 1);
    auto bar = body.find('|');
    if (!ParseInt(body.substr(0, bar), number) || number > 2147483647) return usage;
    Failure f;
    f.number = static_cast<int>(number);
    f.at = n;
    f.text = bar != std::string_view::npos ? std::string(body.substr(bar + 1))
             : step
                 ? "Step " + std::to_string(n) + " failed by the stand-in's fault 'fail-at-step'."
                 : "Statement " + std::to_string(n) + " failed by the stand-in's fault 'fail-at'.";
    (step ? stepFailures : failures).push_back(std::move(f));
  } else if (kind == "drop-at-step") {
    if (!ParseInt(rest, n) || n == 0) return "drop-at-step needs a step number from 1";
    dropAtStep = n;
  } else if (kind == "count") {
    auto c2 = rest.find(':');
    if (c2 == std::string_view::npos || !ParseInt(rest.substr(0, c2), n) || c2 + 1 == rest.size())
      return "count needs ROWS:PATTERN";
    extraCounts.push_back({n, std::string(rest.substr(c2 + 1))});
  } else if (kind == "delay-on") {
    auto c2 = rest.find(':');
    if (c2 == std::string_view::npos || !ParseInt(rest.substr(0, c2), n) || n > 600000 ||
        c2 + 1 == rest.size())
      return "delay-on needs MS:PATTERN (MS 0 to 600000)";
    delaysOn.push_back({static_cast<int>(n), std::string(rest.substr(c2 + 1))});
  } else if (kind == "exec-before") {
    auto bar = rest.find('|');
    if (bar == std::string_view::npos || bar == 0 || bar + 1 == rest.size())
      return "exec-before needs PATTERN|SQL";
    execBefore.push_back({std::string(rest.substr(0, bar)), std::string(rest.substr(bar + 1))});
  } else if (kind == "exec-after") {
    auto c2 = rest.find(':');
    if (c2 == std::string_view::npos || !ParseInt(rest.substr(0, c2), n) || c2 + 1 == rest.size())
      return "exec-after needs N:SQL";
    execAfter.push_back({n, std::string(rest.substr(c2 + 1))});
  } else if (kind == "long-value") {
    auto c2 = rest.rfind(':');
    if (c2 == std::string_view::npos || c2 == 0 || !ParseInt(rest.substr(c2 + 1), n) || n < 1 ||
        n > 65534)
      return "long-value needs PATTERN:BYTES (1 to 65534)";
    longValues.push_back({std::string(rest.substr(0, c2)), static_cast<std::uint32_t>(n)});
  } else {
    return "unknown fault kind '" + std::string(kind) + "'";
  }
  return {};
}

bool FaultConfig::ShouldDrop(std::int64_t seq, std::string_view text) const {
  if (dropAfter >= 0 && seq == dropAfter + 1) return true;
  return std::any_of(dropOn.begin(), dropOn.end(),
                     [&](const std::string& p) { return ContainsNoCase(text, p); });
}

const FaultConfig::ExtraCount* FaultConfig::ExtraCountFor(std::string_view text) const {
  for (const auto& c : extraCounts)
    if (ContainsNoCase(text, c.pattern)) return &c;
  return nullptr;
}

int FaultConfig::DelayFor(std::string_view text) const {
  int ms = delayMs;
  for (const auto& d : delaysOn)
    if (ContainsNoCase(text, d.pattern)) ms += d.ms;
  return ms;
}

std::uint32_t FaultConfig::LongValueBytesFor(std::string_view text) const {
  for (const auto& l : longValues)
    if (ContainsNoCase(text, l.pattern)) return l.bytes;
  return 0;
}

const FaultConfig::Failure* FaultConfig::FailureAtStep(std::int64_t step) const {
  for (const auto& f : stepFailures)
    if (step == f.at) return &f;
  return nullptr;
}

const FaultConfig::Failure* FaultConfig::FailureFor(std::int64_t seq, std::string_view text) const {
  for (const auto& f : failures)
    if (f.at >= 0 ? seq == f.at : ContainsNoCase(text, f.pattern)) return &f;
  return nullptr;
}

}  // namespace standin
