// The controls against a recording backend: what they send their peers and what they do with
// what a peer reports. The same contract holds whichever backend the program links.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Reader.h"
#include "tests/ui/TestWindow.h"
#include "tests/uimodel/RecordingPeers.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ProgressBar.h"
#include "ui/RegisterControls.h"
#include "ui/StdCtrls.h"

namespace bunkmere {
namespace {

using testing::Recording;
using enum TAnchorKind;

std::vector<std::string>& Calls() {
  return Recording().Calls;
}

bool Sent(const std::string& APrefix) {
  return std::any_of(Calls().begin(), Calls().end(),
                     [&](const std::string& c) { return c.starts_with(APrefix); });
}

// The main window's layout, loaded and shown, its calls so far forgotten.
struct Window {
  Window() {
    form.Loaded();
    form.Show();
    Recording().RunPosted();
    Calls().clear();
  }
  // Made on a fresh recording, before the references to its controls are taken.
  static std::unique_ptr<testing::TTestWindow> FreshLayout() {
    Recording() = {};
    return std::make_unique<testing::TTestWindow>();
  }

  std::unique_ptr<testing::TTestWindow> layout = FreshLayout();
  TForm& form = layout->form;
  TLabel* label = layout->label;
  TButton* save = layout->save;
  TProgressBar* bar = layout->bar;
  TMemo* memo = layout->memo;
};

TEST(PeerContract, ASetterSendsAChangeOnceAndNothingWhenNothingChanges) {
  TFontData bold;
  bold.Style.Include(TFontStyle::fsBold);
  struct Case {
    const char* What;
    std::function<void(Window&)> Set;
  } cases[] = {
      {"form caption", [](Window& w) { w.form.SetCaption("Synch"); }},
      {"form left", [](Window& w) { w.form.SetLeft(10); }},
      {"form colour", [](Window& w) { w.form.SetColor(clWhite); }},
      {"label caption", [](Window& w) { w.label->SetCaption("[XXX]"); }},
      {"button bounds", [](Window& w) { w.save->SetBounds(1, 2, 3, 4); }},
      {"button font", [&](Window& w) { w.save->SetFont(bold); }},
      {"button tab stop", [](Window& w) { w.save->SetTabStop(false); }},
      {"visibility", [](Window& w) { w.save->SetVisible(false); }},
      {"memo scroll bars", [](Window& w) { w.memo->SetScrollBars(TScrollStyle::ssBoth); }},
      {"memo word wrap", [](Window& w) { w.memo->SetWordWrap(false); }},
      {"memo read-only", [](Window& w) { w.memo->SetReadOnly(true); }},
      {"bar position",
       [](Window& w) {
         w.bar->SetPosition(5);
         w.bar->BringUpToDate();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Window w;
    c.Set(w);
    EXPECT_FALSE(Calls().empty()) << "the change reached no peer";
    Calls().clear();
    c.Set(w);
    EXPECT_EQ(Calls(), std::vector<std::string>{});
  }
}

TEST(PeerContract, AMaximiseTheWindowReportsIsRecordedAndNotSentBack) {
  Window w;
  Recording().WindowMaximized = true;
  w.form.PeerWindowStateChanged(TWindowState::wsMaximized);
  w.form.PeerClientResized(1024, 740);
  EXPECT_EQ(w.form.WindowState(), TWindowState::wsMaximized);
  EXPECT_FALSE(Sent("form SetWindowState"));
  // The anchors move the controls; the form keeps the client size it restores to.
  EXPECT_EQ(w.save->Left(), 1024 - (674 - 592));
  EXPECT_TRUE(Sent("button SetBounds 942,107,75,25"));
  EXPECT_EQ(w.form.ClientWidth(), 674);

  Calls().clear();
  Recording().WindowMaximized = false;
  w.form.PeerWindowStateChanged(TWindowState::wsNormal);
  w.form.PeerClientResized(674, 420);
  EXPECT_EQ(w.form.WindowState(), TWindowState::wsNormal);
  EXPECT_FALSE(Sent("form SetWindowState"));
  EXPECT_EQ(w.save->Left(), 592);
  EXPECT_EQ(w.memo->Width(), 657);

  // Asked by the program rather than reported, the state goes to the window.
  Calls().clear();
  w.form.SetWindowState(TWindowState::wsMaximized);
  EXPECT_TRUE(Sent("form SetWindowState 2"));
}

TEST(PeerContract, LinesAddedTogetherReachTheBoxThroughOnePostedCall) {
  Window w;
  w.memo->Add("");
  EXPECT_FALSE(Sent("memo AddLine")) << "an empty line added to an empty box";
  for (const char* line : {"a", "b", "c"}) w.memo->Add(line);
  EXPECT_EQ(Recording().Posted.size(), 1u);
  Recording().RunPosted();
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "memo BringUpToDate"), 1);
  EXPECT_EQ(w.memo->Lines(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(w.memo->LinesText(), "a\r\nb\r\nc\r\n");
}

TEST(PeerContract, RepaintsWithinAFrameOfTheLastAreLeftToTheNext) {
  struct Case {
    const char* What;
    std::chrono::nanoseconds Frame;
    long Paints;
  } cases[] = {
      {"a frame longer than the test", std::chrono::hours(1), 1},
      {"no frame at all", std::chrono::nanoseconds(0), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Window w;
    w.form.SetFrameInterval(c.Frame);
    for (int i = 0; i < 3; ++i) w.label->Repaint();
    EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "form PaintNow"), c.Paints);
    EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "label Invalidate"), 3);
  }
}

TEST(PeerContract, AClickRunsTheHandlerAndItsFailureGoesToTheErrorBoxUnderTheTitle) {
  TApplication application("uimodel_tests");
  application.SetTitle("Bunkmere");
  Window w;
  int clicks = 0;
  w.save->SetOnClick([&](TComponent*) {
    if (++clicks == 2) throw Exception("Cannot create file x.log");
  });
  w.save->PeerClicked();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(Recording().Boxes.empty());
  w.save->PeerClicked();
  application.ShowMessage("Cell Synchronization Completed");
  EXPECT_EQ(Recording().Boxes,
            (std::vector<std::string>{"Bunkmere|Cannot create file x.log.|error",
                                      "Bunkmere|Cell Synchronization Completed|information"}));
}

TEST(PeerContract, AControlReadFromADescriptionIsRealisedWithEveryStoredStyle) {
  RegisterControlClasses();
  Recording() = {};
  TForm form(nullptr);
  ReadComponentDescription(form,
                           "object F: TForm\n"
                           " object Memo1: TMemo\n  Left = 8\n  Width = 200\n"
                           "  ScrollBars = ssVertical\n  WordWrap = False\n  TabOrder = 7\n end\n"
                           " object Go: TButton\n  Caption = 'Go'\n  TabOrder = 0\n end\n"
                           "end\n");
  const auto at = [](const std::string& ACall) {
    return std::find(Calls().begin(), Calls().end(), ACall) - Calls().begin();
  };
  // Every creation-only style is known before the first realise (later ones find it done).
  EXPECT_LT(at("memo SetScrollBars 10"), at("memo Realise"));
  EXPECT_LT(at("memo SetWordWrap 0"), at("memo Realise"));
  EXPECT_LT(at("button SetText Go"), at("button Realise"));
  // The tab order is given to native controls that exist.
  EXPECT_LT(at("memo Realise"), at("form SetTabOrder 2"));

  // Made in code, a control is realised as soon as it has a parent.
  Calls().clear();
  auto* label = new TLabel(&form);
  EXPECT_FALSE(Sent("label Realise"));
  label->SetParent(&form);
  EXPECT_TRUE(Sent("label Realise"));
}

TEST(PeerContract, ANewScreenDensityScalesLayoutAndFontsAndGoingBackRestoresThem) {
  Window w;
  w.memo->SetBounds(8, 136, 657, 265);
  TFontData bold = w.form.Font();
  bold.Height = -11;
  w.save->SetFont(bold);
  struct Case {
    int Dpi;
    TRect Memo;
    int FontHeight, ClientWidth;
  } cases[] = {
      {144, {12, 204, 986, 398}, -17, 1011},
      {96, {8, 136, 657, 265}, -11, 674},
      {192, {16, 272, 1314, 530}, -22, 1348},
      {96, {8, 136, 657, 265}, -11, 674},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Dpi);
    w.form.PeerDensityChanged(c.Dpi, TRect{40, 30, 0, 0});
    EXPECT_EQ(w.form.PixelsPerInch(), c.Dpi);
    EXPECT_EQ(w.memo->BoundsRect(), c.Memo);
    EXPECT_EQ(w.save->Font().Height, c.FontHeight);
    EXPECT_EQ(w.form.ClientWidth(), c.ClientWidth);
    EXPECT_EQ(Calls().back(), "form Move 40,30");
  }
}

}  // namespace
}  // namespace bunkmere
