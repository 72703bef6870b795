// The controls on a real (offscreen) Qt window: what a person sees and does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <chrono>
#include <string>
#include <vector>

#include "RecordingMessageBoxes.h"
#include "TestWindow.h"
#include "core/Exceptions.h"
#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/StdCtrls.h"
#include "ui/qt/QtPeers.h"

namespace bunkmere {
namespace {

using enum TAnchorKind;

// The main window's layout, its label showing a placeholder.
struct SmallWindow : testing::TTestWindow {
  SmallWindow() { label->SetCaption("[XXXXXX]"); }
  // Shows the window, settled, with every repaint painting at once: for tests of what a
  // repaint shows rather than of how often it paints.
  void ShowPaintingAtOnce() {
    form.SetFrameInterval(std::chrono::nanoseconds(0));
    form.Show();
    QApplication::processEvents();
  }
};

TEST(Form, FixedBorderKeepsSystemMenuAndBothBoxes) {
  SmallWindow w;
  const Qt::WindowFlags f = QtWindow(w.form)->windowFlags();
  EXPECT_TRUE(f.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_TRUE(f.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(f.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(QtWindow(w.form)->minimumSize(), QSize(674, 420));
  EXPECT_EQ(QtWindow(w.form)->maximumSize(), QSize(674, 420));
}

TEST(Form, MaximisingMovesAnchoredControlsAndRestoringPutsThemBack) {
  SmallWindow w;
  w.form.SetWindowState(TWindowState::wsMaximized);
  // Maximised, the fixed border no longer holds the size.
  EXPECT_EQ(QtWindow(w.form)->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  // What the window reports when the window system has maximised it.
  w.form.ClientResized(1000, 700);
  EXPECT_EQ(w.memo->BoundsRect(), (TRect{8, 136, 983, 545}));
  EXPECT_EQ(QtWidget(*w.memo)->geometry(), QRect(8, 136, 983, 545));
  EXPECT_EQ(w.save->BoundsRect(), (TRect{918, 107, 75, 25}));
  EXPECT_EQ(w.start->BoundsRect(), (TRect{383, 78, 237, 25}));  // centre stays in the middle
  EXPECT_EQ(w.label->BoundsRect().Left, 33);
  EXPECT_EQ(w.form.ClientWidth(), 674);  // the stored client size is not the maximised one

  w.form.SetWindowState(TWindowState::wsNormal);
  w.form.ClientResized(674, 420);
  EXPECT_EQ(QtWindow(w.form)->maximumSize(), QSize(674, 420));
  EXPECT_EQ(w.memo->BoundsRect(), (TRect{8, 136, 657, 265}));
  EXPECT_EQ(w.save->BoundsRect(), (TRect{592, 107, 75, 25}));
  EXPECT_EQ(w.start->Left(), 220);
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++Paints;
    return false;
  }
  int Paints = 0;
};

TEST(Form, RepaintPaintsWhatChangedAtOnceAndNothingElse) {
  SmallWindow w;
  w.form.Show();
  QApplication::processEvents();
  PaintCounter label, save;
  QtWidget(*w.label)->installEventFilter(&label);
  QtWidget(*w.save)->installEventFilter(&save);
  // No event loop runs between the change and the check, as in the pass.
  w.label->SetCaption("Synching Facility :North");
  w.form.Repaint();
  EXPECT_EQ(label.Paints, 1);
  EXPECT_EQ(save.Paints, 0);
  w.form.Repaint();
  EXPECT_EQ(label.Paints, 1);
  w.form.Close();
}

TEST(Form, RepaintsWithinOneFrameWaitForTheNextAndTheEventLoopShowsThem) {
  SmallWindow w;
  w.form.SetFrameInterval(std::chrono::hours(1));
  w.form.Show();
  QApplication::processEvents();
  PaintCounter label;
  QtWidget(*w.label)->installEventFilter(&label);
  auto& qlabel = static_cast<QLabel&>(*QtWidget(*w.label));
  w.label->SetCaption("Synching Facility :North");
  w.form.Repaint();
  EXPECT_EQ(label.Paints, 1);
  w.label->SetCaption("Synching Facility :South");
  w.form.Repaint();
  w.label->Repaint();
  EXPECT_EQ(label.Paints, 1);  // the frame has not passed
  QApplication::processEvents();
  EXPECT_EQ(label.Paints, 2);
  EXPECT_EQ(qlabel.text().toStdString(), "Synching Facility :South");
  // Once a frame has passed, a repaint paints at once again.
  w.form.SetFrameInterval(std::chrono::nanoseconds(0));
  w.label->SetCaption("Synching Facility :East");
  w.label->Repaint();
  EXPECT_EQ(label.Paints, 3);
  w.form.Close();
}

// On a showing window, a label measures its caption when its bounds are read or the window
// is painted, not at every change; what it reports and what is painted are the same.
TEST(Label, OnAShowingWindowTheSizeIsRightWhenReadOrPainted) {
  SmallWindow w;
  w.ShowPaintingAtOnce();
  auto& qlabel = static_cast<QLabel&>(*QtWidget(*w.label));
  const QFontMetrics fm(qlabel.font());
  const std::string longText = "Synching Facility :North DormCode : A CellNo : 12 Bed : 3";
  w.label->SetCaption(longText);
  EXPECT_EQ(w.label->Width(), fm.horizontalAdvance(QString::fromStdString(longText)));
  w.label->SetCaption("x");
  w.form.Repaint();
  EXPECT_EQ(qlabel.geometry(), QRect(33, 43, fm.horizontalAdvance("x"), fm.height()));
  // Bounds set outright after a caption win, as they would had the caption been measured.
  w.label->SetCaption(longText);
  w.label->SetBounds(33, 43, 10, 13);
  w.form.Repaint();
  EXPECT_EQ(w.label->BoundsRect(), (TRect{33, 43, 10, 13}));
  EXPECT_EQ(qlabel.geometry(), QRect(33, 43, 10, 13));
  w.form.Close();
}

TEST(Form, TabOrderSkipsNonStopsAndTheFirstStopHoldsTheFocus) {
  SmallWindow w;
  w.form.Loaded();
  const auto tabs = w.form.TabList();
  ASSERT_EQ(tabs.size(), 3u);  // the progress bar has a tab order but is no tab stop
  EXPECT_EQ(tabs[0], w.start);
  EXPECT_EQ(tabs[1], w.memo);
  EXPECT_EQ(tabs[2], w.save);
  EXPECT_EQ(w.form.ActiveControl(), w.start);
  EXPECT_EQ(QtWindow(w.form)->focusWidget(), QtWidget(*w.start));
  // Tab from the start button reaches the log box next (the progress bar is no stop).
  QWidget* next = QtWidget(*w.start)->nextInFocusChain();
  while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
  EXPECT_EQ(next, QtWidget(*w.memo));
}

TEST(Form, ScalesToTheScreenDensityWhenLoaded) {
  SmallWindow w;
  TFontData bold = w.form.Font();
  bold.Style.Include(TFontStyle::fsBold);
  w.start->SetFont(bold);
  w.form.SetScreenPixelsPerInch(120);
  w.form.Loaded();
  EXPECT_EQ(w.form.ClientWidth(), 843);
  EXPECT_EQ(w.form.ClientHeight(), 525);
  EXPECT_EQ(w.start->BoundsRect(), (TRect{275, 98, 296, 31}));
  EXPECT_EQ(w.start->Font().Height, -14);
  EXPECT_TRUE(w.start->Font().Style.Contains(TFontStyle::fsBold));
  EXPECT_EQ(w.memo->Font().Height, -14);  // follows the form's scaled font
  EXPECT_EQ(w.form.PixelsPerInch(), 120);
  // Anchors work from the scaled layout.
  w.form.ClientResized(943, 625);
  EXPECT_EQ(w.save->Left(), ScaleLength(592, 120, 96) + 100);
}

TEST(Label, ShowsDatabaseTextAsPlainTextAndSizesItselfToIt) {
  SmallWindow w;
  auto& qlabel = static_cast<QLabel&>(*QtWidget(*w.label));
  EXPECT_EQ(qlabel.textFormat(), Qt::PlainText);
  const int shortWidth = w.label->Width();
  w.label->SetCaption("Synching Facility :<b>North</b> & Co DormCode : A CellNo : 12");
  EXPECT_EQ(qlabel.text().toStdString(),
            "Synching Facility :<b>North</b>  Co DormCode : A CellNo : 12");
  EXPECT_GT(w.label->Width(), shortWidth);
  EXPECT_EQ(w.label->Width(), QFontMetrics(qlabel.font()).horizontalAdvance(qlabel.text()));
  EXPECT_EQ(w.label->Left(), 33);
}

TEST(Memo, LinesAndSavedTextEndEveryLineWithCrLf) {
  SmallWindow w;
  EXPECT_EQ(w.memo->LinesText(), "");
  w.memo->Add("Facility :Main DormCode : A CellNo : 1 Allow 1 but 2 are assign to it");
  w.memo->Add("----Inmates On Cell----");
  w.memo->Add(" B-1");
  EXPECT_EQ(w.memo->Lines().size(), 3u);
  EXPECT_EQ(w.memo->LinesText(),
            "Facility :Main DormCode : A CellNo : 1 Allow 1 but 2 are assign to it\r\n"
            "----Inmates On Cell----\r\n B-1\r\n");
  // What a person types is part of the log; a final line break makes no extra line.
  auto& edit = static_cast<QPlainTextEdit&>(*QtWidget(*w.memo));
  edit.moveCursor(QTextCursor::End);
  QTest::keyClicks(&edit, "typed");
  QTest::keyClick(&edit, Qt::Key_Return);
  EXPECT_EQ(w.memo->Lines().back(), " B-1typed");
  EXPECT_EQ(w.memo->LinesText().size(), w.memo->LinesText().rfind("\r\n") + 2);
  w.memo->Clear();
  EXPECT_TRUE(w.memo->Lines().empty());
}

// The box holds added lines back and puts them in together; the text must come out as
// adding them one at a time to a Qt text box does.
TEST(Memo, HeldBackLinesComeOutAsLinesAddedOneByOne) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* What;
    std::vector<Lines> Batches;  // a repaint of the window between batches
  } cases[] = {
      {"plain lines", {{"a", "b"}, {"c"}}},
      {"an empty line into an empty box", {{"", "a"}}},
      {"empty lines first, between and last", {{"", ""}, {"a", "", "b", ""}}},
      {"a line ending in a carriage return", {{"ends in CR\r", "next"}}},
      {"a line holding a line feed", {{"two\nlines", "x"}}},
      {"text beyond ASCII and tabs", {{"M\xc3\xbcller \xe2\x82\xac 5", "tab\there"}}},
  };
  for (const auto& c : cases) {
    SmallWindow w;
    w.ShowPaintingAtOnce();
    QPlainTextEdit reference;
    for (const auto& batch : c.Batches) {
      for (const auto& line : batch) {
        w.memo->Add(line);
        reference.appendPlainText(QString::fromStdString(line));
      }
      w.form.Repaint();
      EXPECT_EQ(static_cast<QPlainTextEdit&>(*QtWidget(*w.memo)).toPlainText(),
                reference.toPlainText())
          << c.What;
    }
    w.memo->Add("after the last repaint");
    reference.appendPlainText("after the last repaint");
    Lines expected;
    for (QTextBlock b = reference.document()->begin(); b.isValid(); b = b.next())
      expected.push_back(b.text().toStdString());
    EXPECT_EQ(w.memo->Lines(), expected) << c.What;
    w.form.Close();
  }
}

TEST(Memo, FollowsTheEndOfTheLogOnlyWhileTheEndIsInView) {
  SmallWindow w;
  w.ShowPaintingAtOnce();
  auto& bar = *static_cast<QPlainTextEdit&>(*QtWidget(*w.memo)).verticalScrollBar();
  for (int i = 0; i < 200; ++i) w.memo->Add("line " + std::to_string(i));
  w.form.Repaint();
  ASSERT_GT(bar.maximum(), 0);
  EXPECT_EQ(bar.value(), bar.maximum());
  // A person scrolled up to read: more lines do not pull the box away from there.
  bar.setValue(10);
  for (int i = 0; i < 50; ++i) w.memo->Add("more " + std::to_string(i));
  w.form.Repaint();
  EXPECT_EQ(bar.value(), 10);
  EXPECT_EQ(w.memo->Lines().size(), 250u);
  w.form.Close();
}

TEST(Memo, KeysReachTheBoxAfterTheLinesHeldBack) {
  SmallWindow w;
  w.form.Show();
  auto& edit = static_cast<QPlainTextEdit&>(*QtWidget(*w.memo));
  w.memo->Add("held");
  w.memo->Add("back");
  QTest::keyClick(&edit, Qt::Key_End, Qt::ControlModifier);
  QTest::keyClicks(&edit, " typed");
  EXPECT_EQ(w.memo->Lines(), (std::vector<std::string>{"held", "back typed"}));
  w.form.Close();
}

TEST(Memo, VerticalScrollBarWrappingAndEditable) {
  SmallWindow w;
  auto& edit = static_cast<QPlainTextEdit&>(*QtWidget(*w.memo));
  EXPECT_EQ(edit.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(edit.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(edit.lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_FALSE(edit.isReadOnly());
}

TEST(ProgressBar, PositionClampsAndStepsWrapPastTheMaximum) {
  struct Case {
    const char* What;
    int Max, Step, Start, Steps, Expected;
  } cases[] = {
      {"plain steps", 100, 10, 0, 3, 30},
      {"lands on the maximum", 100, 10, 90, 1, 100},
      {"passes the maximum and starts over", 100, 10, 95, 1, 5},
      {"step one past", 10, 1, 10, 1, 1},
      {"many wraps", 3, 1, 0, 7, 1},
      {"empty range stays at zero", 0, 1, 0, 5, 0},
  };
  for (const auto& c : cases) {
    TProgressBar bar(nullptr);
    bar.SetMax(c.Max);
    bar.SetStep(c.Step);
    bar.SetPosition(c.Start);
    for (int i = 0; i < c.Steps; ++i) bar.StepIt();
    EXPECT_EQ(bar.Position(), c.Expected) << c.What;
    EXPECT_EQ(static_cast<QProgressBar&>(*QtWidget(bar)).value(), c.Expected) << c.What;
  }
  TProgressBar bar(nullptr);
  EXPECT_EQ(bar.Max(), 100);
  EXPECT_EQ(bar.Step(), 10);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetMax(40);
  EXPECT_EQ(bar.Position(), 40);
  bar.SetPosition(-3);
  EXPECT_EQ(bar.Position(), 0);
}

// Stepped on a showing window, the bar does not paint the window at every step; a repaint
// shows where it stands.
TEST(ProgressBar, StepsOnAShowingWindowArePaintedWithTheWindow) {
  SmallWindow w;
  w.ShowPaintingAtOnce();
  PaintCounter paints;
  QtWidget(*w.bar)->installEventFilter(&paints);
  w.bar->SetMax(10);
  w.bar->SetStep(1);
  for (int i = 0; i < 25; ++i) w.bar->StepIt();
  EXPECT_EQ(paints.Paints, 0);
  EXPECT_EQ(w.bar->Position(), 5);
  w.form.Repaint();
  EXPECT_EQ(paints.Paints, 1);
  EXPECT_EQ(static_cast<QProgressBar&>(*QtWidget(*w.bar)).value(), 5);
  EXPECT_EQ(static_cast<QProgressBar&>(*QtWidget(*w.bar)).maximum(), 10);
  w.form.Close();
}

TEST(Button, AClickRunsTheHandlerAndAnEscapingFailureGoesToTheErrorBox) {
  SmallWindow w;
  testing::RecordingMessageBoxes boxes;
  int clicks = 0;
  TComponent* sender = nullptr;
  w.save->SetOnClick([&](TComponent* s) {
    ++clicks;
    sender = s;
    throw EFileError("Cannot create file \"/ro/01020304.log\". Permission denied");
  });
  w.form.Show();
  QTest::mouseClick(QtWidget(*w.save), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(sender, w.save);
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Caption, "Bunkmere");
  EXPECT_EQ(boxes.Boxes[0].Type, TMsgDlgType::mtError);
  EXPECT_EQ(boxes.Boxes[0].Text, "Cannot create file \"/ro/01020304.log\". Permission denied.");
  w.form.Close();
}

TEST(Button, AnUnknownHandlerNameFailsWhenLoaded) {
  SmallWindow w;
  EXPECT_THROW(w.save->SetOnClickName("btnNoSuchClick"), Exception);
}

TEST(Controls, FreeingTheFormFreesItsControlsBeforeItsWindow) {
  auto form = std::make_unique<TForm>(nullptr);
  TMemo outside(nullptr);  // owned elsewhere, parented to the form
  outside.SetParent(form.get());
  auto* owned = new TLabel(form.get());
  owned->SetParent(form.get());
  form.reset();
  EXPECT_EQ(outside.Parent(), nullptr);
  EXPECT_EQ(QtWidget(outside)->parent(), nullptr);
}

}  // namespace
}  // namespace bunkmere
