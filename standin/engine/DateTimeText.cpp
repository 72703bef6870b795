#include "standin/engine/DateTimeText.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace standin {

namespace {

constexpr std::int64_t kTicksPerDay = 24LL * 60 * 60 * 300;

// Days from 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yy + (m <= 2));
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

void Put(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Writes the stored form from a day count (from 1970) and 1/300 s ticks of that day.
DateResult Format(std::int64_t days, std::int64_t ticks, char* out) {
  days += ticks / kTicksPerDay;
  ticks %= kTicksPerDay;
  int y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y < 1753 || y > 9999) return DateResult::OutOfRange;
  std::int64_t ms = (ticks * 10 + 1) / 3;  // 1/300 s to the nearest millisecond: .000 .003 .007
  std::int64_t secs = ms / 1000;
  ms %= 1000;
  Put(out, y, 4);
  out[4] = '-';
  Put(out + 5, static_cast<int>(m), 2);
  out[7] = '-';
  Put(out + 8, static_cast<int>(d), 2);
  out[10] = ' ';
  Put(out + 11, static_cast<int>(secs / 3600), 2);
  out[13] = ':';
  Put(out + 14, static_cast<int>(secs / 60 % 60), 2);
  out[16] = ':';
  Put(out + 17, static_cast<int>(secs % 60), 2);
  out[19] = '.';
  Put(out + 20, static_cast<int>(ms), 3);
  return DateResult::Ok;
}

struct Fields {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
  double fraction = 0;  // seconds
  bool hasDate = false;
};

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipBlanks() {
    while (!AtEnd() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool Accept(char c) {
    if (Peek() == c) {
      ++i_;
      return true;
    }
    return false;
  }
  // Reads digits; `count` receives how many.
  bool Number(int& value, int& count) {
    value = 0;
    count = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
      if (count < 9) value = value * 10 + (s_[i_] - '0');
      ++count;
      ++i_;
    }
    return count > 0;
  }
  std::string_view Word() {
    std::size_t start = i_;
    while (!AtEnd() && std::isalpha(static_cast<unsigned char>(s_[i_]))) ++i_;
    return s_.substr(start, i_ - start);
  }
  std::size_t pos() const { return i_; }
  void Reset(std::size_t p) { i_ = p; }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int MonthFromName(std::string_view w) {
  static constexpr std::string_view kNames[] = {"january",   "february", "march",    "april",
                                                "may",       "june",     "july",     "august",
                                                "september", "october",  "november", "december"};
  if (w.size() < 3) return 0;
  for (int i = 0; i < 12; ++i)
    if (w.size() <= kNames[i].size() && SameNoCase(w, kNames[i].substr(0, w.size())) &&
        (w.size() == 3 || w.size() == kNames[i].size()))
      return i + 1;
  return 0;
}

int FullYear(int value, int digits) {
  if (digits > 2) return value;
  return value < 50 ? 2000 + value : 1900 + value;  // SQL Server's two-digit year cutoff 2049
}

// hh:mm[:ss[.fff | :fff]] [AM|PM], or hh AM.
bool ParseTime(Scanner& sc, Fields& f) {
  int v, n;
  if (!sc.Number(v, n) || n > 2) return false;
  f.hour = v;
  bool hasColon = false;
  if (sc.Accept(':')) {
    hasColon = true;
    if (!sc.Number(v, n) || n > 2) return false;
    f.minute = v;
    if (sc.Accept(':')) {
      if (!sc.Number(v, n) || n > 2) return false;
      f.second = v;
      if (sc.Accept('.')) {
        std::size_t start = sc.pos();
        double scale = 0.1;
        while (std::isdigit(static_cast<unsigned char>(sc.Peek()))) {
          f.fraction += (sc.Peek() - '0') * scale;
          scale /= 10;
          sc.Accept(sc.Peek());
        }
        if (sc.pos() == start) return false;
      } else if (sc.Accept(':')) {
        if (!sc.Number(v, n) || n > 3) return false;
        f.fraction = v / 1000.0;
      }
    }
  }
  sc.SkipBlanks();
  std::size_t save = sc.pos();
  std::string_view w = sc.Word();
  if (SameNoCase(w, "AM") || SameNoCase(w, "PM")) {
    if (f.hour < 1 || f.hour > 12) return false;
    if (SameNoCase(w, "AM"))
      f.hour = f.hour == 12 ? 0 : f.hour;
    else
      f.hour = f.hour == 12 ? 12 : f.hour + 12;
  } else {
    sc.Reset(save);
    if (!hasColon) return false;
  }
  return f.hour <= 23 && f.minute <= 59 && f.second <= 59;
}

bool AssignOrdered(DateOrder order, const int v[3], const int digits[3], Fields& f) {
  int y, m, d, yd;
  switch (order) {
    case DateOrder::MDY:
      m = v[0];
      d = v[1];
      y = v[2];
      yd = digits[2];
      break;
    case DateOrder::DMY:
      d = v[0];
      m = v[1];
      y = v[2];
      yd = digits[2];
      break;
    case DateOrder::YMD:
      y = v[0];
      m = v[1];
      d = v[2];
      yd = digits[0];
      break;
    case DateOrder::YDM:
      y = v[0];
      d = v[1];
      m = v[2];
      yd = digits[0];
      break;
    case DateOrder::MYD:
      m = v[0];
      y = v[1];
      d = v[2];
      yd = digits[1];
      break;
    case DateOrder::DYM:
      d = v[0];
      y = v[1];
      m = v[2];
      yd = digits[1];
      break;
    default:
      return false;
  }
  f.year = FullYear(y, yd);
  f.month = m;
  f.day = d;
  f.hasDate = true;
  return true;
}

bool ParseDatePart(Scanner& sc, DateOrder order, Fields& f) {
  std::size_t start = sc.pos();
  if (std::isalpha(static_cast<unsigned char>(sc.Peek()))) {
    // Mon dd[,] yyyy
    int month = MonthFromName(sc.Word());
    if (!month) return false;
    sc.SkipBlanks();
    int d, dn, y, yn;
    if (!sc.Number(d, dn) || dn > 2) return false;
    sc.Accept(',');
    sc.SkipBlanks();
    if (!sc.Number(y, yn) || (yn != 2 && yn != 4)) return false;
    f.year = FullYear(y, yn);
    f.month = month;
    f.day = d;
    f.hasDate = true;
    return true;
  }
  int a, an;
  if (!sc.Number(a, an)) return false;
  char sep = sc.Peek();
  if (an == 8 && sep != '/' && sep != '-' && sep != '.' && sep != ':') {
    f.year = a / 10000;
    f.month = a / 100 % 100;
    f.day = a % 100;
    f.hasDate = true;
    return true;
  }
  if (an == 6 && (sep == ' ' || sep == '\0')) {
    f.year = FullYear(a / 10000, 2);
    f.month = a / 100 % 100;
    f.day = a % 100;
    f.hasDate = true;
    return true;
  }
  if (sep == ' ' && an <= 2) {
    // dd Mon yyyy
    sc.SkipBlanks();
    if (std::isalpha(static_cast<unsigned char>(sc.Peek()))) {
      int month = MonthFromName(sc.Word());
      if (!month) return false;
      sc.Accept(',');
      sc.SkipBlanks();
      int y, yn;
      if (!sc.Number(y, yn) || (yn != 2 && yn != 4)) return false;
      f.year = FullYear(y, yn);
      f.month = month;
      f.day = a;
      f.hasDate = true;
      return true;
    }
    sc.Reset(start);
    return false;
  }
  if (sep != '/' && sep != '-' && sep != '.') {
    sc.Reset(start);
    return false;
  }
  sc.Accept(sep);
  int v[3] = {a, 0, 0}, digits[3] = {an, 0, 0};
  if (!sc.Number(v[1], digits[1]) || digits[1] > 4) return false;
  if (!sc.Accept(sep)) return false;
  if (!sc.Number(v[2], digits[2]) || digits[2] > 4) return false;
  if (digits[0] == 4) {
    // A leading four-digit year reads year-month-day, except in the orders that put the day
    // before the month (where SQL Server reads year-day-month).
    DateOrder o = (order == DateOrder::DMY || order == DateOrder::YDM || order == DateOrder::DYM)
                      ? DateOrder::YDM
                      : DateOrder::YMD;
    return AssignOrdered(o, v, digits, f);
  }
  if (digits[0] > 2 && order != DateOrder::YMD && order != DateOrder::YDM) return false;
  return AssignOrdered(order, v, digits, f);
}

}  // namespace

DateResult ParseDateTime(std::string_view text, DateOrder order, char* out) {
  Scanner sc(text);
  sc.SkipBlanks();
  Fields f;
  if (sc.AtEnd()) return Format(DaysFromCivil(1900, 1, 1), 0, out);
  std::size_t start = sc.pos();
  // ISO 8601: yyyy-mm-ddThh:mm:ss[.fff]
  {
    int y, yn, m, mn, d, dn;
    if (sc.Number(y, yn) && yn == 4 && sc.Accept('-') && sc.Number(m, mn) && mn == 2 &&
        sc.Accept('-') && sc.Number(d, dn) && dn == 2 && (sc.Peek() == 'T' || sc.Peek() == 't')) {
      sc.Accept(sc.Peek());
      f.year = y;
      f.month = m;
      f.day = d;
      f.hasDate = true;
      if (!ParseTime(sc, f)) return DateResult::Invalid;
      sc.Accept('Z');
      sc.SkipBlanks();
      if (!sc.AtEnd()) return DateResult::Invalid;
      goto validate;
    }
    sc.Reset(start);
  }
  {
    // A time alone: a one- or two-digit number followed by a colon or by AM/PM.
    Scanner probe(text);
    probe.Reset(start);
    int v, n;
    probe.Number(v, n);
    bool timeOnly = false;
    if (n > 0 && n <= 2) {
      if (probe.Peek() == ':') {
        timeOnly = true;
      } else {
        probe.SkipBlanks();
        std::string_view w = probe.Word();
        timeOnly = SameNoCase(w, "AM") || SameNoCase(w, "PM");
      }
    }
    if (timeOnly) {
      if (!ParseTime(sc, f)) return DateResult::Invalid;
      sc.SkipBlanks();
      if (!sc.AtEnd()) return DateResult::Invalid;
      goto validate;
    }
  }
  if (!ParseDatePart(sc, order, f)) return DateResult::Invalid;
  {
    bool blank = sc.Peek() == ' ' || sc.Peek() == '\t';
    sc.SkipBlanks();
    if (!sc.AtEnd()) {
      if (!blank && !(sc.Peek() >= '0' && sc.Peek() <= '9')) return DateResult::Invalid;
      if (!ParseTime(sc, f)) return DateResult::Invalid;
      sc.SkipBlanks();
      if (!sc.AtEnd()) return DateResult::Invalid;
    }
  }
validate:
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.year < 1 || f.year > 9999)
    return DateResult::Invalid;
  if (f.day > DaysInMonth(f.year, f.month)) return DateResult::Invalid;
  if (f.year < 1753) return DateResult::OutOfRange;
  std::int64_t ticks = (static_cast<std::int64_t>(f.hour) * 3600 + f.minute * 60 + f.second) * 300 +
                       static_cast<std::int64_t>(std::llround(f.fraction * 300));
  return Format(DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)),
                ticks, out);
}

DateResult DateTimeFromDays(double days, char* out) {
  if (!std::isfinite(days) || days < -53690 || days > 2958464) return DateResult::OutOfRange;
  double whole = std::floor(days);
  std::int64_t ticks = std::llround((days - whole) * kTicksPerDay);
  return Format(DaysFromCivil(1900, 1, 1) + static_cast<std::int64_t>(whole), ticks, out);
}

void NowAsDateTime(char* out) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::int64_t ticks =
      (static_cast<std::int64_t>(local.tm_hour) * 3600 + local.tm_min * 60 + local.tm_sec) * 300 +
      (ms * 3 + 5) / 10;
  Format(DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                       static_cast<unsigned>(local.tm_mday)),
         ticks, out);
}

bool ParseDateOrder(std::string_view text, DateOrder& order) {
  static constexpr std::pair<std::string_view, DateOrder> kOrders[] = {
      {"mdy", DateOrder::MDY}, {"dmy", DateOrder::DMY}, {"ymd", DateOrder::YMD},
      {"ydm", DateOrder::YDM}, {"myd", DateOrder::MYD}, {"dym", DateOrder::DYM}};
  for (auto& [name, o] : kOrders)
    if (SameNoCase(text, name)) {
      order = o;
      return true;
    }
  return false;
}

}  // namespace standin
