#pragma once
// A statement translated to SQLite for one set of conditions (database, catalog versions,
// parameter types, date order), with its prepared SQLite statement. Plans are cached with
// the parsed batch and reused while those conditions hold.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "standin/Engine.h"
#include "standin/engine/Ast.h"
#include "standin/engine/EngineCore.h"

namespace standin {

struct Plan {
  std::string sql;
  StmtPtr stmt;
  bool returnsRows = false;
  std::vector<ColumnInfo> columns;
  std::vector<int> paramSlots;  // ?N binds params[paramSlots[N - 1]]

  std::string database;
  std::vector<std::pair<const Database*, std::uint64_t>> dependencies;
  std::string paramSignature;
  DateOrder dateOrder = DateOrder::MDY;
  int spid = -1;  // >= 0 when the plan names a session's own temporary table
  bool cacheable = true;

  Database* targetDatabase = nullptr;  // the table an INSERT, UPDATE or DELETE writes
  std::shared_ptr<TableDef> target;
  bool isInsert = false;
  bool explicitIdentity = false;  // INSERT with IDENTITY_INSERT ON
  bool inUse = false;             // its SQLite statement is stepping

  // The rows a statement reads or writes, as a query of their lock keys per table. A statement
  // runs its probes only while another session holds rows of that table.
  struct Probe {
    std::string lockTable;
    std::shared_ptr<TableDef> table;
    std::string sql;  // SELECT <key columns or rowid> FROM ... WHERE ...
    // For a statement on one table: the same WHERE over one row image, whose columns bind
    // from parameter imageFirstParam on.
    std::string imageSql;
    int imageFirstParam = 0;
  };
  std::vector<Probe> probes;
  std::string lockTable;  // the target's, for INSERT, UPDATE and DELETE
};

struct TranslateContext {
  EngineCore& core;
  SessionState& session;
  std::span<const Param> params;
};

// SELECT, INSERT, UPDATE and DELETE. Throws SqlError (208, 207, 245 ...).
std::unique_ptr<Plan> Translate(const Statement& statement, TranslateContext& ctx);

std::string ParamSignature(std::span<const Param> params);

// True when `plan` was built for what `ctx` holds now.
bool PlanMatches(const Plan& plan, const TranslateContext& ctx, const std::string& signature);

}  // namespace standin
