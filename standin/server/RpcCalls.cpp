// The RPC calls a session answers: sp_executesql, the prepared-statement calls (sp_prepare,
// sp_prepexec, sp_execute, sp_unprepare) kept per connection by handle, and catalog procedures
// called by name, which the engine answers.

#include <cctype>
#include <cstdio>

#include "standin/server/Connection.h"
#include "standin/server/Server.h"
#include "standin/server/TokenSink.h"

namespace standin {
namespace {

const char* KnownProcName(std::uint16_t id) {
  static const char* const kNames[] = {nullptr,
                                       "sp_cursor",
                                       "sp_cursoropen",
                                       "sp_cursorprepare",
                                       "sp_cursorexecute",
                                       "sp_cursorprepexec",
                                       "sp_cursorunprepare",
                                       "sp_cursorfetch",
                                       "sp_cursoroption",
                                       "sp_cursorclose",
                                       "sp_executesql",
                                       "sp_prepare",
                                       "sp_execute",
                                       "sp_prepexec",
                                       "sp_prepexecrpc",
                                       "sp_unprepare"};
  return id < std::size(kNames) ? kNames[id] : nullptr;
}

// "sp_ExecuteSQL", "master..sp_executesql", "[dbo].[sp_executesql]" all name the same call.
std::string BareProcName(std::string_view name) {
  auto dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(dot + 1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  std::string out(name);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The engine's contract has no binary, GUID or time-zone types: such a parameter must fail
// loudly instead of reaching it as something else.
bool EngineTakes(const tds::TypeInfo& t) {
  switch (t.code) {
    case tds::TypeCode::BigVarBinary:
    case tds::TypeCode::BigBinary:
    case tds::TypeCode::Image:
    case tds::TypeCode::Guid:
    case tds::TypeCode::DateTimeOffsetN:
    case tds::TypeCode::TimeN:
      return false;
    default:
      return true;
  }
}

Param ToParam(const tds::RpcParam& p) {
  Param out;
  out.name = p.name;
  out.type = tds::ColumnInfoFor(p.type);
  out.isNull = p.value.isNull;
  out.i = p.value.i;
  out.f = p.value.f;
  out.text = p.value.text;
  out.output = (p.status & tds::kParamByRef) != 0;
  return out;
}

bool IsTextParam(const Param& p) {
  switch (p.type.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Text:
    case SqlType::NText:
      return true;
    default:
      return false;
  }
}

// Parameter names in the order a declaration such as "@P1 int,@P2 varchar(80) OUTPUT" gives.
std::vector<std::string> DeclaredNames(std::string_view decl) {
  std::vector<std::string> names;
  int depth = 0;
  bool atStart = true;
  for (std::size_t i = 0; i < decl.size(); ++i) {
    char c = decl[i];
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth == 0) {
      atStart = true;
      continue;
    }
    if (atStart && c == '@') {
      std::size_t j = i;
      while (j < decl.size() && decl[j] != ' ' && decl[j] != '\t' && decl[j] != '\r' &&
             decl[j] != '\n' && decl[j] != ',' && decl[j] != '(')
        ++j;
      names.emplace_back(decl.substr(i, j - i));
      atStart = false;
      i = j - 1;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      atStart = false;
    }
  }
  return names;
}

void NameParams(std::vector<Param>& values, const std::string& declaration) {
  auto names = DeclaredNames(declaration);
  for (std::size_t k = 0; k < values.size() && k < names.size(); ++k)
    if (values[k].name.empty()) values[k].name = names[k];
}

}  // namespace

void Connection::RunRpc(const tds::RpcRequest& request, TokenSink& sink, tds::Bytes& trailer) {
  std::string name = request.procId ? (KnownProcName(request.procId)
                                           ? KnownProcName(request.procId)
                                           : "procedure id " + std::to_string(request.procId))
                                    : BareProcName(request.procName);
  std::vector<Param> params;
  params.reserve(request.params.size());
  for (const auto& p : request.params) params.push_back(ToParam(p));

  auto returnStatus = [&](std::int32_t v) { tds::AppendReturnStatus(trailer, {v}); };
  auto returnHandle = [&](std::int32_t handle) {
    tds::ReturnValue rv;
    rv.ordinal = 0;
    rv.name = request.params.empty() ? "@handle" : request.params[0].name;
    rv.type = {tds::TypeCode::IntN, 4};
    rv.value.isNull = false;
    rv.value.i = handle;
    tds::AppendReturnValue(trailer, rv, Dialect());
  };
  auto fail = [&](int number, int state, const std::string& text) {
    sink.Error(number, state, 16, text);
    sink.StatementDone(false, 0, true);
  };
  auto execute = [&](const std::string& sql, std::span<const Param> values) {
    try {
      session_->Execute(sql, values, sink);
    } catch (const ServerError& e) {
      sink.Message(e.message);
      sink.StatementDone(false, 0, true);
    } catch (const std::exception& e) {
      fail(50000, 1, std::string("The stand-in failed internally: ") + e.what());
    }
    // Dropped by a step fault: the session closes, the rest of the answer is lost with it.
    if (sink.Dropped()) Close();
  };
  // Statement text and values for the log and the faults, before anything runs.
  std::string sql;
  std::span<const Param> logged = params;
  std::vector<Param> values;
  std::string declaration;
  const Prepared* prepared = nullptr;
  std::int32_t handle = 0;
  bool known = true;
  if (name == "sp_executesql") {
    if (params.empty() || !IsTextParam(params[0]) || params[0].isNull) {
      std::int64_t seq;
      bool failed;
      if (!BeginStatement("rpc", name, "", params, seq, sink, failed)) return;
      if (!failed)
        fail(214, 2, "Procedure expects parameter '@statement' of type 'ntext/nchar/nvarchar'.");
      return EndStatement(seq);
    }
    sql = params[0].text;
    if (params.size() > 1 && IsTextParam(params[1])) declaration = params[1].text;
    values.assign(params.begin() + (params.size() > 1 ? 2 : 1), params.end());
  } else if (name == "sp_prepexec" || name == "sp_prepare") {
    if (params.size() < 3 || !IsTextParam(params[2]) || params[2].isNull) {
      std::int64_t seq;
      bool failed;
      if (!BeginStatement("rpc", name, "", params, seq, sink, failed)) return;
      if (!failed)
        fail(8144, 2, "Procedure or function " + name + " has too many arguments specified.");
      return EndStatement(seq);
    }
    declaration = params[1].isNull ? "" : params[1].text;
    sql = params[2].text;
    if (name == "sp_prepexec") values.assign(params.begin() + 3, params.end());
  } else if (name == "sp_execute" || name == "sp_unprepare") {
    if (!params.empty() && !params[0].isNull) {
      handle = static_cast<std::int32_t>(params[0].i);
      auto it = prepared_.find(handle);
      if (it != prepared_.end()) prepared = &it->second;
    }
    if (prepared) {
      sql = prepared->sql;
      declaration = prepared->declaration;
    }
    if (name == "sp_execute" && params.size() > 1) values.assign(params.begin() + 1, params.end());
  } else {
    known = request.procId == 0;
  }
  if (!declaration.empty()) NameParams(values, declaration);
  if (name == "sp_executesql" || name == "sp_prepexec" || name == "sp_execute") logged = values;

  std::int64_t seq;
  bool failed;
  if (!BeginStatement("rpc", name, sql, logged, seq, sink, failed)) return;
  if (failed) return EndStatement(seq);
  for (std::size_t k = 0; k < request.params.size(); ++k) {
    if (!EngineTakes(request.params[k].type)) {
      std::string pname =
          request.params[k].name.empty() ? "#" + std::to_string(k + 1) : request.params[k].name;
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X",
                    static_cast<unsigned>(request.params[k].type.code));
      fail(8016, 1,
           "The stand-in does not support the data type of parameter " + pname + " (TDS type " +
               code + ").");
      return EndStatement(seq);
    }
  }

  if (name == "sp_executesql") {
    execute(sql, values);
    returnStatus(0);
  } else if (name == "sp_prepexec" || name == "sp_prepare") {
    handle = nextHandle_++;
    prepared_[handle] = {sql, declaration};
    if (name == "sp_prepexec") execute(sql, values);
    returnStatus(0);
    returnHandle(handle);
  } else if (name == "sp_execute" || name == "sp_unprepare") {
    if (!prepared) {
      fail(8179, 4,
           "Could not find prepared statement with handle " + std::to_string(handle) + ".");
    } else if (name == "sp_execute") {
      execute(sql, values);
      returnStatus(0);
    } else {
      prepared_.erase(handle);
      returnStatus(0);
    }
  } else if (!known || !session_->ExecuteProcedure(name, params, sink)) {
    // SQL Server's own answer for a procedure it does not have; the stand-in gives it for every
    // call it does not implement, so nothing is silently ignored.
    fail(2812, 62, "Could not find stored procedure '" + name + "'.");
  } else {
    returnStatus(0);
  }
  EndStatement(seq);
}
}  // namespace standin
