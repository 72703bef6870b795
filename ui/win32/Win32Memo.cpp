// The conflicts log on a multi-line edit control. Lines added during a long handler are held
// back and put in with one edit before the window paints or a person touches the box.

#include "ui/win32/Win32Control.h"

#include <string>
#include <vector>

namespace bunkmere::win32 {
namespace {

class TWin32MemoPeer final : public TWin32ControlPeer<TMemoPeer> {
 public:
  explicit TWin32MemoPeer(TPeerEvents& AEvents)
      : TWin32ControlPeer(AEvents, L"EDIT",
                          ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL) {}
  void SetScrollBars(bool AVertical, bool AHorizontal) override {
    FVertical = AVertical;
    FHorizontal = AHorizontal;
    DoRealise();
  }
  void SetWordWrap(bool AValue) override {
    FWordWrap = AValue;
    DoRealise();
  }
  void SetReadOnly(bool AValue) override {
    FReadOnly = AValue;
    if (Handle() != nullptr) SendMessageW(Handle(), EM_SETREADONLY, AValue, 0);
  }
  bool IsEmpty() const override {
    return !FHasPending &&
           (Handle() != nullptr ? GetWindowTextLengthW(Handle()) == 0 : StoredText().empty());
  }
  void AddLine(const std::string& ALine) override {
    if (FHasPending) FPending += L"\r\n";
    FHasPending = true;
    const std::wstring line = Wide(ALine);
    NoteText(line);
    FPending += line;
  }
  void BringUpToDate() override { FlushPending(); }
  std::vector<std::string> Lines() const override {
    FlushPending();
    std::wstring text = StoredText();
    if (Handle() != nullptr) {
      const int length = GetWindowTextLengthW(Handle());
      text.assign(static_cast<std::size_t>(length) + 1, L'\0');
      text.resize(static_cast<std::size_t>(GetWindowTextW(Handle(), text.data(), length + 1)));
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find(L"\r\n", start);
      lines.push_back(Narrow(std::wstring_view(text).substr(start, end - start)));
      if (end == std::wstring::npos) break;
      start = end + 2;
    }
    return lines;
  }
  void Clear() override {
    FPending.clear();
    FHasPending = false;
    DoSetText(L"");
  }

 protected:
  // An edit control reads its scroll bars and whether it wraps (it does unless it scrolls
  // sideways by itself) only when it is made.
  DWORD CreationStyle() const override {
    return (FVertical ? WS_VSCROLL : 0) | (FHorizontal ? WS_HSCROLL : 0) |
           (FWordWrap ? 0 : ES_AUTOHSCROLL);
  }
  DWORD ExStyle() const override { return WS_EX_CLIENTEDGE; }
  void KeepState() override {
    SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&FSelStart),
                 reinterpret_cast<LPARAM>(&FSelEnd));
    FFirstLine = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
  }
  void RestoreState() override {
    // The default limit is 32K characters, far less than a long pass logs.
    SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
    SendMessageW(Handle(), EM_SETREADONLY, FReadOnly, 0);
    if (StoredText().empty()) return;
    SetWindowTextW(Handle(), StoredText().c_str());
    SendMessageW(Handle(), EM_SETSEL, FSelStart, FSelEnd);
    const auto nowFirst = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(Handle(), EM_LINESCROLL, 0, FFirstLine - nowFirst);
  }
  void BeforeMessage(UINT AMessage) override {
    // Held-back lines go in before a person's key, click or the box's focus reaches it, so
    // what a person edits is always the whole log.
    if ((AMessage >= WM_KEYFIRST && AMessage <= WM_KEYLAST) ||
        (AMessage >= WM_MOUSEFIRST && AMessage <= WM_MOUSELAST) || AMessage == WM_SETFOCUS ||
        AMessage == WM_VSCROLL)
      FlushPending();
  }

 private:
  // Puts the lines added since the last time at the end, in one edit; the box follows the end
  // only while the end is in view, and a person's selection stays where it was.
  void FlushPending() const {
    if (!FHasPending) return;
    std::wstring text;
    text.swap(FPending);
    FHasPending = false;
    if (Handle() == nullptr) {
      auto& stored = const_cast<TWin32MemoPeer*>(this)->StoredText();
      if (!stored.empty()) stored += L"\r\n";
      stored += text;
      return;
    }
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    const bool hasBar = GetScrollInfo(Handle(), SB_VERT, &bar) != FALSE;
    const bool followEnd =
        !hasBar || bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax || bar.nMax <= 0;
    const auto firstLine = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
    const int length = GetWindowTextLengthW(Handle());
    if (length > 0) text.insert(0, L"\r\n");
    SendMessageW(Handle(), EM_SETSEL, length, length);
    SendMessageW(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    if (followEnd) return;
    SendMessageW(Handle(), EM_SETSEL, selStart, selEnd);
    const auto nowFirst = SendMessageW(Handle(), EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(Handle(), EM_LINESCROLL, 0, firstLine - nowFirst);
  }

  bool FVertical = false, FHorizontal = false, FWordWrap = true, FReadOnly = false;
  DWORD FSelStart = 0, FSelEnd = 0;
  LRESULT FFirstLine = 0;
  mutable std::wstring FPending;
  mutable bool FHasPending = false;
};

}  // namespace

std::unique_ptr<TMemoPeer> MakeMemoPeer(TPeerEvents& AEvents) {
  return std::make_unique<TWin32MemoPeer>(AEvents);
}

}  // namespace bunkmere::win32
