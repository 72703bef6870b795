#include "db/DbClasses.h"

#include "config/ConfigClasses.h"
#include "config/VeltraneCfg.h"
#include "core/ClassRegistry.h"
#include "dataaccess/DataAccessClasses.h"
#include "db/VtMSAccess.h"
#include "db/VtSQLDatabase.h"

namespace bunkmere {
namespace {

const TEnumType kIndexOptionType{"TIndexOption",
                                 {"ixPrimary", "ixUnique", "ixDescending", "ixCaseInsensitive",
                                  "ixExpression", "ixNonMaintained"}};
const TEnumType kRefreshOptionType{"TRefreshOption",
                                   {"roAfterInsert", "roAfterUpdate", "roBeforeEdit"}};

// The properties every lockable dataset adds, in their published order.
template <class T>
void AddLockProperties(TClassBuilder<T>& AClass) {
  AClass
      .Boolean("RecordLocksMake", &T::RecordLocksMake,
               [](T& d, bool v) { d.SetRecordLocksMake(v); })
      .Default(true)
      .Boolean("RecordLocksCheck", &T::RecordLocksCheck, &T::SetRecordLocksCheck)
      .Default(true)
      .Set(
          "RefreshOptions", kRefreshOptionType, [](T& d) { return d.RefreshOptions().Mask(); },
          [](T& d, std::int64_t m) { d.SetRefreshOptions(TRefreshOptions::FromMask(m)); })
      .Default(TRefreshOptions{TRefreshOption::roBeforeEdit}.Mask())
      .String("VtVersion", &T::VtVersion);
}

}  // namespace

void RegisterDbClasses() {
  static const bool done = [] {
    RegisterDataAccessClasses();
    RegisterConfigClasses();

    using O = TVtMSDataSetOptions;
    Register<O, TMSDataSetOptions>("TVtMSDataSetOptions")
        .Boolean("QuoteNames", &O::QuoteNames, &O::SetQuoteNames)
        .Default(true)
        .Boolean("TrimVarChar", &O::TrimVarChar, &O::SetTrimVarChar)
        .Default(true);

    {
      auto table = Register<TVtMSTable, TMSTable>("TVtMSTable");
      AddLockProperties(table);
    }
    {
      auto query = Register<TVtCustomMSQuery, TMSQuery>("TVtCustomMSQuery");
      AddLockProperties(query);
    }

    Register<TIndexDef, TCollectionItem>("TIndexDef")
        .String("Name", &TIndexDef::Name, &TIndexDef::SetName)
        .String("Fields", &TIndexDef::Fields, &TIndexDef::SetFields)
        .String("DescFields", &TIndexDef::DescFields, &TIndexDef::SetDescFields)
        .Set("Options", kIndexOptionType, &TIndexDef::Options, &TIndexDef::SetOptions)
        .Default(0);
    Register<TIndexDefs, TCollection>("TIndexDefs");

    using Q = TVtMSQuery;
    Register<Q, TVtCustomMSQuery>("TVtMSQuery")
        .String("IndexName", &Q::IndexName, &Q::SetIndexName)
        .Collection("IndexDefs", [](Q& q) -> TCollection* { return &q.IndexDefs(); })
        .String("TableName", &Q::TableName, &Q::SetTableName)
        .Boolean("AutoLoadIndexDefs", &Q::AutoLoadIndexDefs, &Q::SetAutoLoadIndexDefs)
        .Default(true);

    using CO = TVtSQLDatabaseOptions;
    Register<CO, TMSConnectionOptions>("TVtSQLDatabaseOptions")
        .Integer("DefaultLockTimeout", &CO::DefaultLockTimeout, &CO::SetDefaultLockTimeout)
        .Default(-1)
        .Boolean("KeepDesignConnected", &CO::KeepDesignConnected, &CO::SetKeepDesignConnected)
        .Default(false)
        .Custom("Provider", &CO::ReadProvider, &CO::WriteProvider, &CO::ShouldWriteProvider);

    using D = TVtSQLDatabase;
    Register<D, TMSConnection>("TVtSQLDatabase")
        .String("VtVersion", &D::VtVersion)
        .String("ProgramName", &D::ProgramName, &D::SetProgramName)
        .Component<TVtCustomConfigInfo>("VtConfigInfo", &D::VtConfigInfo, &D::SetVtConfigInfo);
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere
