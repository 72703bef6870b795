#include "standin/server/StatementLog.h"

#include <cstdio>

namespace standin {

std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string TypeName(const ColumnInfo& t) {
  auto len = [&](const char* name) {
    return std::string(name) + "(" +
           (t.length < 0 ? std::string("max") : std::to_string(t.length)) + ")";
  };
  switch (t.type) {
    case SqlType::TinyInt:
      return "tinyint";
    case SqlType::SmallInt:
      return "smallint";
    case SqlType::Int:
      return "int";
    case SqlType::BigInt:
      return "bigint";
    case SqlType::Bit:
      return "bit";
    case SqlType::Float:
      return "float";
    case SqlType::Real:
      return "real";
    case SqlType::Decimal:
      return "decimal(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
    case SqlType::Char:
      return len("char");
    case SqlType::VarChar:
      return len("varchar");
    case SqlType::NChar:
      return len("nchar");
    case SqlType::NVarChar:
      return len("nvarchar");
    case SqlType::Text:
      return "text";
    case SqlType::NText:
      return "ntext";
    case SqlType::DateTime:
      return "datetime";
  }
  return "unknown";
}

std::string ParamText(const Param& p) {
  if (p.isNull) return "null";
  switch (p.type.type) {
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::Bit:
      return std::to_string(p.i);
    case SqlType::Float:
    case SqlType::Real: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", p.f);
      return buf;
    }
    default:
      return p.text;
  }
}

StatementLog::~StatementLog() {
  if (file_) std::fclose(file_);
}

bool StatementLog::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

namespace {

void AppendParams(std::string& line, std::span<const Param> params) {
  line += ",\"params\":[";
  bool first = true;
  for (const auto& p : params) {
    if (!first) line += ',';
    first = false;
    line += "{\"name\":" + JsonQuote(p.name) + ",\"type\":" + JsonQuote(TypeName(p.type)) +
            ",\"value\":" + (p.isNull ? std::string("null") : JsonQuote(ParamText(p))) + "}";
  }
  line += "]}\n";
}

}  // namespace

void StatementLog::Write(std::int64_t seq, int spid, std::string_view kind, std::string_view proc,
                         std::string_view sql, std::span<const Param> params) {
  if (!file_) return;
  std::string line = "{\"seq\":" + std::to_string(seq) + ",\"spid\":" + std::to_string(spid) +
                     ",\"kind\":" + JsonQuote(kind) + ",\"proc\":" + JsonQuote(proc) +
                     ",\"sql\":" + JsonQuote(sql);
  AppendParams(line, params);
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void StatementLog::WriteStep(std::int64_t step, std::int64_t seq, int spid, int lineNo,
                             std::string_view sql, std::span<const Param> params) {
  if (!file_) return;
  std::string line = "{\"step\":" + std::to_string(step) + ",\"seq\":" + std::to_string(seq) +
                     ",\"spid\":" + std::to_string(spid) +
                     ",\"kind\":\"step\",\"line\":" + std::to_string(lineNo) +
                     ",\"sql\":" + JsonQuote(sql);
  AppendParams(line, params);
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace standin
