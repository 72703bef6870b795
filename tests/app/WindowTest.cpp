// The main window as the program builds it from its stored description, and its two buttons,
// in-process on the offscreen platform.
#include <gtest/gtest.h>

#include <optional>

#include <QFontInfo>
#include <QFontMetrics>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/BunkmereMain.h"
#include "app/UnhandledFailure.h"
#include "config/VtConfigInfo.h"
#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "dataaccess/MSConnection.h"
#include "dataaccess/MSTable.h"
#include "db/VtMSAccess.h"
#include "db/VtSQLDatabase.h"
#include "platform/FakeWindowsPlatform.h"
#include "tests/ClosedPort.h"
#include "tests/app/JailFixture.h"
#include "tests/app/SiteFolder.h"
#include "tests/ui/RecordingMessageBoxes.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"
#include "ui/qt/QtBridge.h"
#include "ui/qt/QtPeers.h"

namespace bunkmere {
namespace {

using Lines = std::vector<std::string>;

TEST(MainWindow, IsBuiltAsStored) {
  testing::JailFixture jail("");
  TfrmSynchCellsMain& w = jail.Window();
  EXPECT_EQ(w.Caption(),
            "Synch Facility Cells Base On Current Population (Compatible with Detentia 5.0.3.x "
            "or higher)");
  EXPECT_EQ(QtWindow(w)->windowTitle().toStdString(), w.Caption());
  EXPECT_EQ(w.BorderStyle(), TFormBorderStyle::bsSingle);
  EXPECT_TRUE(QtWindow(w)->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(QtWindow(w)->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  EXPECT_EQ(w.Font().Name, "MS Sans Serif");
  EXPECT_EQ(w.Font().Height, ScaleLength(-11, w.PixelsPerInch(), 96));

  // The stored bounds were laid out at 96 pixels per inch; at another density each length
  // scales by the density's ratio, rounded half away from zero.
  const int ppi = w.PixelsPerInch();
  const auto at = [ppi](int AStored) { return (AStored * ppi + 48) / 96; };
  const auto scaled = [&at](TRect AStored) {
    return TRect{at(AStored.Left), at(AStored.Top), at(AStored.Width), at(AStored.Height)};
  };
  EXPECT_EQ(w.ClientWidth(), at(674));
  EXPECT_EQ(w.ClientHeight(), at(420));
  EXPECT_EQ(w.btConvertTavrichWeekenders->BoundsRect(), scaled({220, 78, 237, 25}));
  EXPECT_EQ(w.Memo1->BoundsRect(), scaled({8, 136, 657, 265}));
  EXPECT_EQ(w.btnSave->BoundsRect(), scaled({592, 107, 75, 25}));
  EXPECT_EQ(w.ProgressBar1->BoundsRect(), scaled({1, 23, 497, 16}));
  // Labels sized themselves to their text, from their stored place.
  EXPECT_EQ(w.Label1->Left(), ScaleLength(8, w.PixelsPerInch(), 96));
  EXPECT_EQ(w.Label1->Width(),
            QFontMetrics(QtWidget(*w.Label1)->font()).horizontalAdvance("Conflicts Log:"));
  EXPECT_EQ(w.lblPasses->Caption(), "[XXX]");
  EXPECT_EQ(w.lblWhatHappen->Caption(), "[XXXXXX]");

  EXPECT_EQ(
      static_cast<QPushButton*>(QtWidget(*w.btConvertTavrichWeekenders))->text().toStdString(),
      "Start Synchronization Of  Cells");
  EXPECT_TRUE(QtWidget(*w.btConvertTavrichWeekenders)->font().bold());
  EXPECT_FALSE(QtWidget(*w.btnSave)->font().bold());
  EXPECT_EQ(w.TabList(),
            (std::vector<TControl*>{w.btConvertTavrichWeekenders, w.Memo1, w.btnSave}));
  EXPECT_EQ(w.ActiveControl(), w.btConvertTavrichWeekenders);
  EXPECT_EQ(w.Memo1->ScrollBars(), TScrollStyle::ssVertical);
  EXPECT_TRUE(w.Memo1->WordWrap());
  EXPECT_FALSE(w.Memo1->ReadOnly());
  EXPECT_TRUE(w.Memo1->Lines().empty());
  EXPECT_EQ(w.ProgressBar1->Max(), 100);
  EXPECT_EQ(w.ProgressBar1->Step(), 10);

  // The data components carry the stored links and the family's defaults; the connection
  // took its string from the program library and stays closed until a pass.
  EXPECT_EQ(w.dbJail->ProgramName(), "JAIL");
  EXPECT_EQ(w.dbJail->VtConfigInfo(), w.VtConfigInfo);
  // The family's default of no lock wait is replaced: a row another program holds in an open
  // transaction must not hang the pass for ever.
  EXPECT_EQ(w.dbJail->Options().DefaultLockTimeout(), 60000);
  EXPECT_EQ(w.dbJail->QueryTimeout(), 120);
  EXPECT_FALSE(w.dbJail->LoginPrompt());
  // UseInitial: the site file's own string, which names the stand-in.
  EXPECT_EQ(w.dbJail->Server(), jail.Server().Host() + "," + std::to_string(jail.Server().Port()));
  EXPECT_EQ(w.dbJail->Username(), jail.Server().User());
  EXPECT_FALSE(w.dbJail->Connected());
  EXPECT_EQ(w.tblCFGCells->MasterFields(), "FACILITYID;DORMCODE");
  EXPECT_EQ(w.tblCFGCells->Connection(), w.dbJail);
  for (TVtMSTable* table :
       {w.tblDetentia, w.tblFacility, w.tblDorms, w.tblCFGCells, w.tblCFGBeds}) {
    EXPECT_TRUE(table->RecordLocksMake()) << table->Name();
    EXPECT_TRUE(table->Options().QuoteNames()) << table->Name();
    EXPECT_TRUE(table->Options().TrimVarChar()) << table->Name();
    EXPECT_FALSE(table->Active()) << table->Name();
  }
  EXPECT_FALSE(w.qryGeneric->Active());
}

// The stored face is a Windows bitmap face. The face standing in for it keeps the widths the
// auto-sized labels were stored with (measured in the original face), so that every caption
// the window shows fits inside its control and the window: a wider face pushes "0 Facilities
// To Process Remaining" past the right edge.
TEST(MainWindow, EveryCaptionFitsInTheFaceStandingInForTheStoredOne) {
  testing::JailFixture jail("");
  TfrmSynchCellsMain& w = jail.Window();
  ASSERT_EQ(QFontInfo(QtWidget(*w.Label1)->font()).family().toStdString(), "FreeSans")
      << "scripts/setup installs fonts-freefont-ttf";
  const struct {
    TLabel* Label;
    int StoredWidth;
  } stored[] = {{w.lblPasses, 27}, {w.lblWhatHappen, 48}, {w.Label1, 64}};
  // The widths were stored at 96 pixels per inch; the face grows with the density.
  const int ppi = w.PixelsPerInch();
  for (const auto& c : stored) {
    SCOPED_TRACE(c.Label->Caption());
    const int expected = (c.StoredWidth * ppi + 48) / 96;
    EXPECT_LE(std::abs(c.Label->Width() - expected), (expected * 5 + 99) / 100)
        << "measured " << c.Label->Width() << " at " << ppi << " pixels per inch";
  }

  const struct {
    TLabel* Label;
    std::string Caption;
  } shown[] = {
      {w.lblPasses, "0 Facilities To Process Remaining"},
      {w.lblPasses, "99 Facilities To Process Remaining"},
      {w.lblWhatHappen,
       "Synching Facility :O'Neil Annex DormCode : N1 CellNo : N1-301 Bed : N1-301 Upper"},
      {w.Label1, "Conflicts Log:"},
  };
  for (const auto& c : shown) {
    SCOPED_TRACE(c.Caption);
    c.Label->SetCaption(c.Caption);
    EXPECT_EQ(c.Label->Width(),
              QFontMetrics(QtWidget(*c.Label)->font()).horizontalAdvance(ToQString(c.Caption)));
    EXPECT_LE(c.Label->Left() + c.Label->Width(), w.ClientWidth());
  }
  for (TButton* button : {w.btConvertTavrichWeekenders, w.btnSave}) {
    SCOPED_TRACE(button->Caption());
    const int text =
        QFontMetrics(QtWidget(*button)->font()).horizontalAdvance(ToQString(button->Caption()));
    EXPECT_LE(text + 8, button->Width());  // clear of the button's frame on both sides
    EXPECT_LE(button->Left() + button->Width(), w.ClientWidth());
  }
}

TEST(MainWindow, OpensCentredWithTheStartButtonFocused) {
  testing::JailFixture jail("");
  TfrmSynchCellsMain& w = jail.Window();
  w.Show();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(w.Left(), screen.x() + (screen.width() - w.ClientWidth()) / 2);
  EXPECT_EQ(w.Top(), screen.y() + (screen.height() - w.ClientHeight()) / 2);
  EXPECT_EQ(QtWindow(w)->focusWidget(), QtWidget(*w.btConvertTavrichWeekenders));
  w.Close();
}

// A Windows workstation's clock and file system for Save Log, with the site file in the
// folder the program starts from.
struct SaveLogPlatform {
  explicit SaveLogPlatform(const std::string& ARows = "") : server(testing::JailScript(ARows)) {
    platform.SetCurrentDirectory("C:\\Jail");
    platform.AddFolder("C:\\Jail");
    platform.AddFolder("C:\\Jail\\Veltrane.Cfg");
    platform.AddFile("C:\\Jail\\Veltrane.Cfg\\Veltrane.ini",
                     "[DataProvider]\r\nConnStr=" + testing::SiteConnectString(server) + "\r\n");
    platform.SetNow(EncodeDate(2026, 12, 9) + EncodeTime(7, 5, 3, 480));
    platform.SetAnsiCodePage(1252);
  }
  standin::testing::StandinServer server;
  TFakeWindowsPlatform platform;
  TPlatformOverride use{platform};
};

TEST(SaveLog, WritesTheLogInTheAnsiCodePageWithCrLfAndNoBom) {
  SaveLogPlatform p;
  testing::RecordingMessageBoxes boxes;
  TfrmSynchCellsMain w(nullptr);  // finds the site file in C:\Jail, where it starts
  w.Memo1->Add("Facility :North DormCode : A CellNo : 1 Allow 1 but 2 are assign to it");
  w.Memo1->Add("----Inmates On Cell----");
  w.Memo1->Add(
      " N\xC3\xBA\xC3\xB1"
      "ez \xCE\xA9");  // Núñez Ω: Ω is not in 1252
  w.Memo1->Add("----End----");
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  EXPECT_TRUE(boxes.Boxes.empty());
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503.log"),
            "Facility :North DormCode : A CellNo : 1 Allow 1 but 2 are assign to it\r\n"
            "----Inmates On Cell----\r\n N\xFA\xF1"
            "ez ?\r\n----End----\r\n");

  // A second save in the same second replaces the file; an empty log saves an empty file.
  w.Memo1->Clear();
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503.log"), "");
}

// The name has no month: last month's log of the same day and time, or another window's, is
// kept, and the save takes the next free "_n" name; the window's own file is still replaced.
TEST(SaveLog, AnEarlierLogOfTheSameNameIsKept) {
  SaveLogPlatform p;
  p.platform.AddFile("C:\\Jail\\09070503.log", "last month\r\n");
  testing::RecordingMessageBoxes boxes;
  TfrmSynchCellsMain w(nullptr);
  w.Memo1->Add("first");
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  w.Memo1->Clear();
  w.Memo1->Add("second");
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  {
    TfrmSynchCellsMain other(nullptr);
    other.Memo1->Add("other window");
    QTest::mouseClick(QtWidget(*other.btnSave), Qt::LeftButton);
  }
  EXPECT_TRUE(boxes.Boxes.empty());
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503.log"), "last month\r\n");
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503_2.log"), "second\r\n");
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503_3.log"), "other window\r\n");
}

// After a pass, Save Log leaves the occupancy report beside the log, under the log's name
// (suffix included), in UTF-8 while the log is in the workstation's code page. Before any pass
// there is nothing to report.
TEST(SaveLog, WritesTheOccupancyReportBesideTheLogInUtf8) {
  SaveLogPlatform p(
      "INSERT INTO CFGFACI (FACILITYID, FACILITYdesc) VALUES ('F1', 'N\xC3\xBA\xC3\xB1"
      "ez')\n"
      "INSERT INTO CFGDORMS (FACILITYID, DORMCODE) VALUES ('F1', 'D1')\n"
      "INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, ALLOWMANY, ALLOW, ONCELL, CELLNO) "
      "VALUES ('D1', 'F1', 10, 0, 1, 0, 'C-10')\n"
      "INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE) VALUES (10, 1, 'A', 1)\n"
      "INSERT INTO DETENTIA (BOOKNO, NAMERELEAS, FACICODE, CELLKEY, BED) VALUES "
      "('B-1', 0, 'F1', 10, '1'), ('B-2', 0, 'F1', 10, '1')\n");
  p.platform.AddFile("C:\\Jail\\09070503.log", "last month\r\n");
  testing::RecordingMessageBoxes boxes;
  TfrmSynchCellsMain w(nullptr);
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  EXPECT_FALSE(p.platform.FileExists("C:\\Jail\\09070503_2.html"));

  QTest::mouseClick(QtWidget(*w.btConvertTavrichWeekenders), Qt::LeftButton);
  ASSERT_EQ(boxes.Texts(), Lines{"Cell Synchronization Completed"});
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  const std::optional<std::string> log = p.platform.FileBytes("C:\\Jail\\09070503_2.log");
  const std::optional<std::string> page = p.platform.FileBytes("C:\\Jail\\09070503_2.html");
  ASSERT_TRUE(log && page);
  EXPECT_TRUE(
      log->starts_with("Facility :N\xFA\xF1"
                       "ez DormCode : D1"))
      << *log;
  EXPECT_NE(page->find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(page->find("N\xC3\xBA\xC3\xB1"
                       "ez (F1"),
            std::string::npos)
      << *page;
  EXPECT_NE(page->find("<li>B-2</li>"), std::string::npos);
  EXPECT_EQ(page->find("id=\"partial\""), std::string::npos);
  EXPECT_FALSE(p.platform.FileExists("C:\\Jail\\09070503.html"));
}

TEST(SaveLog, AFileThatCannotBeWrittenShowsTheErrorBoxAndKeepsTheLog) {
  SaveLogPlatform p;
  testing::RecordingMessageBoxes boxes;
  TfrmSynchCellsMain w(nullptr);
  // The window's own earlier save, now held open by another program: saving again in the same
  // second replaces that file, and cannot.
  w.Memo1->Add("older log");
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  ASSERT_TRUE(boxes.Boxes.empty());
  p.platform.SetFileLocked("C:\\Jail\\09070503.log", true);
  w.Memo1->Clear();
  w.Memo1->Add("keep me");
  QTest::mouseClick(QtWidget(*w.btnSave), Qt::LeftButton);
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Caption, "Bunkmere");
  EXPECT_EQ(boxes.Boxes[0].Type, TMsgDlgType::mtError);
  EXPECT_NE(boxes.Boxes[0].Text.find("C:\\Jail\\09070503.log"), std::string::npos)
      << boxes.Boxes[0].Text;
  EXPECT_EQ(boxes.Boxes[0].Text.back(), '.');
  EXPECT_EQ(w.Memo1->Lines(), Lines{"keep me"});
  EXPECT_EQ(p.platform.FileBytes("C:\\Jail\\09070503.log"), "older log\r\n");
}

// The program library hands out a string that reaches no server (a port held closed):
// the window opened normally, and the press ends in the pass's two boxes, since the string is
// taken anew before the connection opens.
TEST(StartButton, AProgramStringThatCannotConnectEndsThePassWithItsTwoBoxes) {
  testing::JailFixture jail("");
  TfrmSynchCellsMain& w = jail.Window();
  testing::RecordingMessageBoxes& boxes = jail.Boxes();
  const testing::TClosedPort closed;
  jail.Exec("UPDATE ConnectLib SET UseInitial = 0, ConnString = 'Data Source=" + closed.Server() +
            ";Initial Catalog=JAIL;User ID=sa;Password=x;Connect Timeout=2'");
  w.Memo1->Add("old log");
  w.ProgressBar1->SetPosition(30);
  QTest::mouseClick(QtWidget(*w.btConvertTavrichWeekenders), Qt::LeftButton);
  ASSERT_EQ(boxes.Boxes.size(), 2u);
  const std::string& first = boxes.Boxes[0].Text;
  EXPECT_TRUE(first.ends_with(" On: TfrmSynchCellsMain.GoSynchCells")) << first;
  EXPECT_GT(first.size(), std::string(" On: TfrmSynchCellsMain.GoSynchCells").size());
  EXPECT_EQ(boxes.Boxes[0].Caption, "Bunkmere");
  EXPECT_EQ(boxes.Boxes[1].Text, "Process Aborted");
  EXPECT_TRUE(w.Memo1->Lines().empty());
  EXPECT_EQ(w.ProgressBar1->Position(), 0);
}

TEST(UnhandledFailure, NamesTheClassModuleAndAddressThenTheMessage) {
  EXPECT_EQ(UnhandledFailureText("EIniFileException", "Bunkmere", 0x1A2F4,
                                 "Site configuration file not found"),
            "Exception EIniFileException in module Bunkmere at 0001A2F4.\n\n"
            "Site configuration file not found.");
  EXPECT_EQ(FailureClassName(EDatabaseError("x")), "EDatabaseError");
  EXPECT_EQ(FailureClassName(std::runtime_error("x")), "std::runtime_error");
}

}  // namespace
}  // namespace bunkmere
