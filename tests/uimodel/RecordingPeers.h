#pragma once
// A backend that draws nothing and writes down what the controls send their peers, one line
// per call ("label SetText [XXX]"), and lets a test play a person's part through the events.

#include <functional>
#include <string>
#include <vector>

#include "ui/Peers.h"

namespace bunkmere::testing {

struct TRecording {
  std::vector<std::string> Calls;
  // Calls posted to run from the event loop, with the peer that posted them.
  std::vector<std::pair<const void*, std::function<void()>>> Posted;
  // Message boxes the application's peer was asked to show.
  std::vector<std::string> Boxes;
  bool WindowMaximized = false;
  bool WindowVisible = false;

  // Runs the posted calls, as the event loop would.
  void RunPosted() {
    auto calls = std::move(Posted);
    Posted.clear();
    for (auto& c : calls) c.second();
  }
};

// The recording of this process.
TRecording& Recording();

}  // namespace bunkmere::testing
