// Dialogs made from templates built in memory (no resource script): the engine's prompts, the
// password dialog and the installer's own dialogs. Sizes are dialog units of the dialog's font.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace klv::platform {

// Predefined control classes, by their atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kListBoxClass = 0x0083;

// A DLGTEMPLATE with its items, written word by word. Dialog() comes first, then one Item()
// per control; Get() is what DialogBoxIndirectParam and CreateDialogIndirectParam take.
class DialogTemplate {
  public:
    // x and y are 0: the dialog procedure places the window (CentreOnScreen). DS_SETFONT is
    // added to `style`.
    void Dialog(DWORD style, short cx, short cy, std::wstring_view caption,
                std::wstring_view font = L"MS Shell Dlg", WORD pointSize = 8, DWORD exStyle = 0);
    // WS_CHILD and WS_VISIBLE are added to `style`.
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
              std::wstring_view text);

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Put(WORD w) { words_.push_back(w); }
    void PutDword(DWORD d);
    void PutText(std::wstring_view s);

    std::vector<WORD> words_; // WORD storage keeps the DWORD alignment of the start
    std::size_t countAt_ = 0;
};

// Moves a window to the middle of the primary screen, keeping its size and z-order.
void CentreOnScreen(HWND window);

} // namespace klv::platform
