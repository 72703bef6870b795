#include "dataaccess/DataAccessClasses.h"

#include "core/ClassRegistry.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSDataSet.h"
#include "dataaccess/MSTable.h"

namespace bunkmere {
namespace {

const TEnumType kProviderType{"TOLEDBProvider", {"prAuto", "prSQL", "prNativeClient", "prCompact"}};
const TEnumType kNativeClientType{"TNativeClientVersion", {"ncAuto", "nc2005", "nc2008", "nc2012"}};
const TEnumType kIntentType{"TApplicationIntent", {"aiReadWrite", "aiReadOnly"}};
const TEnumType kAuthenticationType{"TMSAuthentication", {"auWindows", "auServer"}};
const TEnumType kRefreshOptionType{"TRefreshOption",
                                   {"roAfterInsert", "roAfterUpdate", "roBeforeEdit"}};

void RegisterOptions() {
  using O = TMSConnectionOptions;
  Register<O, TPersistent>("TMSConnectionOptions")
      .Enum("Provider", kProviderType, &O::Provider, &O::SetProvider)
      .Default(TOLEDBProvider::prAuto)
      .Enum("NativeClientVersion", kNativeClientType, &O::NativeClientVersion,
            &O::SetNativeClientVersion)
      .Default(TNativeClientVersion::ncAuto)
      .Integer("DefaultLockTimeout", &O::DefaultLockTimeout, &O::SetDefaultLockTimeout)
      .Default(2000)
      .Boolean("QuotedIdentifier", &O::QuotedIdentifier, &O::SetQuotedIdentifier)
      .Default(true)
      .Boolean("KeepDesignConnected", &O::KeepDesignConnected, &O::SetKeepDesignConnected)
      .Default(true)
      .Boolean("DisconnectedMode", &O::DisconnectedMode, &O::SetDisconnectedMode)
      .Default(false)
      .Boolean("AllowImplicitConnect", &O::AllowImplicitConnect, &O::SetAllowImplicitConnect)
      .Default(true)
      .Integer("PacketSize", &O::PacketSize, &O::SetPacketSize)
      .Default(4096)
      .Boolean("AutoTranslate", &O::AutoTranslate, &O::SetAutoTranslate)
      .Default(true)
      .String("ApplicationName", &O::ApplicationName, &O::SetApplicationName)
      .String("WorkstationID", &O::WorkstationID, &O::SetWorkstationID)
      .String("Language", &O::Language, &O::SetLanguage)
      .String("NetworkLibrary", &O::NetworkLibrary, &O::SetNetworkLibrary)
      .String("FailoverPartner", &O::FailoverPartner, &O::SetFailoverPartner)
      .String("InitialFileName", &O::InitialFileName, &O::SetInitialFileName)
      .Boolean("Encrypt", &O::Encrypt, &O::SetEncrypt)
      .Default(false)
      .Boolean("PersistSecurityInfo", &O::PersistSecurityInfo, &O::SetPersistSecurityInfo)
      .Default(false)
      .Boolean("MultipleActiveResultSets", &O::MultipleActiveResultSets,
               &O::SetMultipleActiveResultSets)
      .Default(false)
      .Boolean("TrustServerCertificate", &O::TrustServerCertificate, &O::SetTrustServerCertificate)
      .Default(false)
      .Boolean("ForceCreateDatabase", &O::ForceCreateDatabase, &O::SetForceCreateDatabase)
      .Default(true)
      .Enum("ApplicationIntent", kIntentType, &O::ApplicationIntent, &O::SetApplicationIntent)
      .Default(TApplicationIntent::aiReadWrite);

  using D = TMSDataSetOptions;
  Register<D, TPersistent>("TMSDataSetOptions")
      .Boolean("QuoteNames", &D::QuoteNames, &D::SetQuoteNames)
      .Default(false)
      .Boolean("TrimVarChar", &D::TrimVarChar, &D::SetTrimVarChar)
      .Default(false)
      .Boolean("TrimFixedChar", &D::TrimFixedChar, &D::SetTrimFixedChar)
      .Default(true)
      .Boolean("StrictUpdate", &D::StrictUpdate, &D::SetStrictUpdate)
      .Default(true)
      .Boolean("UpdateAllFields", &D::UpdateAllFields, &D::SetUpdateAllFields)
      .Default(false)
      .Boolean("QueryRecCount", &D::QueryRecCount, &D::SetQueryRecCount)
      .Default(false)
      .Boolean("LocalMasterDetail", &D::LocalMasterDetail, &D::SetLocalMasterDetail)
      .Default(false)
      .Boolean("MasterFieldsNullable", &D::MasterFieldsNullable, &D::SetMasterFieldsNullable)
      .Default(false)
      .Boolean("UniqueRecords", &D::UniqueRecords, &D::SetUniqueRecords)
      .Default(true)
      .Boolean("FullRefresh", &D::FullRefresh, &D::SetFullRefresh)
      .Default(false)
      .Boolean("DMLRefresh", &D::DMLRefresh, &D::SetDMLRefresh)
      .Default(false)
      .Boolean("RemoveOnRefresh", &D::RemoveOnRefresh, &D::SetRemoveOnRefresh)
      .Default(true)
      .Integer("DetailDelay", &D::DetailDelay, &D::SetDetailDelay)
      .Default(0);

  Register<TSqlLines, TPersistent>("TStrings")
      .Lines("Strings", &TSqlLines::Strings, &TSqlLines::SetStrings);
}

}  // namespace

void RegisterDataAccessClasses() {
  static const bool done = [] {
    RegisterCoreClasses();
    RegisterOptions();

    using C = TMSConnection;
    Register<C, TComponent>("TMSConnection")
        .String("Server", &C::Server, &C::SetServer)
        .String("Database", &C::Database, &C::SetDatabase)
        .Enum("Authentication", kAuthenticationType, &C::Authentication, &C::SetAuthentication)
        .Default(TMSAuthentication::auServer)
        .String("Username", &C::Username, &C::SetUsername)
        .Integer("Port", &C::Port, &C::SetPort)
        .Default(1433)
        .Integer("ConnectionTimeout", &C::ConnectionTimeout, &C::SetConnectionTimeout)
        .Default(15)
        .Boolean("LoginPrompt", &C::LoginPrompt, &C::SetLoginPrompt)
        .Default(true)
        .Boolean("AutoCommit", &C::AutoCommit, &C::SetAutoCommit)
        .Default(true)
        .Object("Options", [](C& c) -> TPersistent* { return &c.Options(); })
        .Boolean("Connected", &C::Connected, &C::SetConnected)
        .Default(false);

    using S = TDataSource;
    Register<S, TComponent>("TDataSource")
        .Component<TCustomMSDataSet>("DataSet", &S::DataSet, &S::SetDataSet);

    using D = TCustomMSDataSet;
    Register<D, TComponent>("TCustomMSDataSet")
        .Component<TMSConnection>("Connection", &D::Connection, &D::SetConnection)
        .Object("SQL", [](D& d) -> TPersistent* { return &d.SQL(); })
        .Component<TDataSource>("MasterSource", &D::MasterSource, &D::SetMasterSource)
        .String("MasterFields", &D::MasterFields, &D::SetMasterFields)
        .String("DetailFields", &D::DetailFields, &D::SetDetailFields)
        .String("KeyFields", &D::KeyFields, &D::SetKeyFields)
        .Boolean("ReadOnly", &D::ReadOnly, &D::SetReadOnly)
        .Default(false)
        .Boolean("FetchAll", &D::FetchAll, &D::SetFetchAll)
        .Default(true)
        .Integer("FetchRows", &D::FetchRows, &D::SetFetchRows)
        .Default(25)
        .Set(
            "RefreshOptions", kRefreshOptionType, [](D& d) { return d.RefreshOptions().Mask(); },
            [](D& d, std::int64_t m) { d.SetRefreshOptions(TRefreshOptions::FromMask(m)); })
        .Default(0)
        .Boolean("CachedUpdates", &D::CachedUpdates, &D::SetCachedUpdates)
        .Default(false)
        .Object("Options", [](D& d) -> TPersistent* { return &d.Options(); })
        .Boolean("Active", &D::Active, &D::SetActive)
        .Default(false);

    Register<TMSTable, TCustomMSDataSet>("TMSTable")
        .String("TableName", &TMSTable::TableName, &TMSTable::SetTableName)
        .String("OrderFields", &TMSTable::OrderFields, &TMSTable::SetOrderFields);
    Register<TMSQuery, TCustomMSDataSet>("TMSQuery");
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere
