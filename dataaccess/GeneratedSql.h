#pragma once
// The SQL the datasets generate and the few ways they read statement text: table statements,
// master/detail conditions and their merge into a statement, parameter markers, the first
// table of a FROM clause, row re-reads and updates. Pure text functions, no database.

#include <string>
#include <string_view>
#include <vector>

namespace bunkmere {

// A statement with every ":name" marker outside literals, comments and bracketed names turned
// into "?", and the marker names in order of appearance (a name used twice appears twice).
struct TWireStatement {
  std::string Text;
  std::vector<std::string> ParamNames;
};
TWireStatement ReplaceParamMarkers(std::string_view ASql);

// A table or column name as generated SQL writes it: every part quoted with AQuoteNames,
// otherwise only the parts that need it.
std::string GeneratedName(std::string_view AName, bool AQuoteNames);

// "SELECT * FROM <table>\r\n" and, with order fields, "ORDER BY <fields>\r\n".
std::string TableStatement(std::string_view ATableName, std::string_view AOrderFields,
                           bool AQuoteNames);

// "<detail> = :<master>" for the field lists taken pairwise (";"-separated, stopping at the
// shorter list), joined with " AND ". Empty when either list is empty.
std::string MasterDetailCondition(std::string_view ADetailFields, std::string_view AMasterFields,
                                  bool AQuoteNames);

// Merges ACondition into the top-level WHERE clause of ASql: an existing condition is closed in
// parentheses and ") AND <condition>" appended; without a WHERE, "\r\nWHERE <condition> " goes
// at the end of the FROM clause, before any GROUP BY, HAVING or ORDER BY.
std::string MergeCondition(std::string_view ASql, std::string_view ACondition);

// The first table of the statement's top-level FROM clause, every part unquoted
// ("dbo.CFGCELL"); empty when there is none or it is not a plain name.
std::string FirstFromTable(std::string_view ASql);

// A column name as the server reported it, put into SQL as one bracketed part with every "]"
// doubled (bare only when quoting is off and the name needs none). A reported name is data, not
// SQL: brackets or dots in it are part of the name, never a qualifier or a quoting of ours.
std::string ColumnName(std::string_view AName, bool AQuoteNames);

// One term of a key condition: "<name> = ?" or, for a key read as NULL, "<name> IS NULL".
struct TKeyTerm {
  std::string Name;
  bool IsNull = false;
};
// Key, re-read, UPDATE and INSERT column names are the server's (ColumnName); table names may be
// a person's typing, dotted or bracketed.
std::string KeyCondition(const std::vector<TKeyTerm>& AKeys, bool AQuoteNames);

// Row re-read: the columns with their position in the field list, keyed by AKeyCondition.
struct TSelectColumn {
  std::string Name;
  int Index = 0;
};
std::string RefreshRecordStatement(std::string_view ATable,
                                   const std::vector<TSelectColumn>& AColumns,
                                   std::string_view AKeyCondition, bool AQuoteNames);
// UPDATE of the given columns, each "= ?", keyed by AKeyCondition.
std::string UpdateStatement(std::string_view ATable, const std::vector<std::string>& AColumns,
                            std::string_view AKeyCondition, bool AQuoteNames);
// INSERT of the given columns, each value "?".
std::string InsertStatement(std::string_view ATable, const std::vector<std::string>& AColumns,
                            bool AQuoteNames);
// DELETE keyed by AKeyCondition.
std::string DeleteStatement(std::string_view ATable, std::string_view AKeyCondition,
                            bool AQuoteNames);

// ";"-separated field names, each trimmed; empty names dropped.
std::vector<std::string> SplitFieldList(std::string_view AList);

}  // namespace bunkmere
