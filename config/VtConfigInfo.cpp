#include "config/VtConfigInfo.h"

#include <memory>

#include "core/Exceptions.h"
#include "core/SqlText.h"
#include "dataaccess/Fields.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"

namespace bunkmere {
namespace {

// A connection that waits on locks as long as the server does; the lookups read with
// (readuncommitted) and take no shared locks anyway.
std::unique_ptr<TMSConnection> NewLookupConnection(const std::string& AConnectString) {
  auto connection = std::make_unique<TMSConnection>(nullptr);
  connection->Options().SetDefaultLockTimeout(-1);
  connection->SetConnectString(AConnectString);
  return connection;
}

// Callers hold it after its connection, so it is freed first. The statement goes in as one
// line: a line break inside a quoted program identifier reaches the server unchanged.
std::unique_ptr<TCustomMSDataSet> NewReadOnlyDataSet(TMSConnection& AConnection,
                                                     const std::string& ASQL) {
  std::unique_ptr<TCustomMSDataSet> dataset(AConnection.CreateDataSet(nullptr));
  dataset->SetReadOnly(true);
  dataset->SQL().Clear();
  dataset->SQL().Add(ASQL);
  return dataset;
}

}  // namespace

std::string TVtConfigInfo::LookupProgramValue(const std::string& AProgramID,
                                              const std::string& AFieldName,
                                              const std::string& ADefault) {
  if (SkipLookups()) return {};
  try {
    const std::unique_ptr<TMSConnection> connection = NewLookupConnection(ConnectionString());
    connection->SetLoginPrompt(false);
    // AFieldName is one of the library's column names, never outside input.
    const std::unique_ptr<TCustomMSDataSet> dataset = NewReadOnlyDataSet(
        *connection,
        "SELECT " + AFieldName + ", UseInitial " +
            "FROM ConnectLib (readuncommitted) WHERE ProgramID = " + QuotedStr(AProgramID));
    dataset->Open();
    if (dataset->IsEmpty()) return {};
    // Only the first row counts, should the library list a program twice.
    if (dataset->FieldByName("UseInitial").AsBoolean()) return ADefault;
    return dataset->FieldByName(AFieldName).AsString();
  } catch (const Exception& e) {
    if (!HandleLookupError(e)) throw;
    return {};
  }
}

void TVtConfigInfo::GetProgramList(std::vector<std::string>& APrograms) {
  if (SkipLookups()) return;
  try {
    const std::unique_ptr<TMSConnection> connection = NewLookupConnection(ConnectionString());
    const std::unique_ptr<TCustomMSDataSet> dataset = NewReadOnlyDataSet(
        *connection, "SELECT ProgramID FROM ConnectLib (readuncommitted) ORDER BY ProgramID");
    dataset->Open();
    // Only now: a list the caller already holds survives a library that cannot be read.
    APrograms.clear();
    for (; !dataset->Eof(); dataset->Next())
      APrograms.push_back(dataset->FieldByName("ProgramID").AsString());
  } catch (const Exception& e) {
    if (!HandleLookupError(e)) throw;
  }
}

}  // namespace bunkmere
