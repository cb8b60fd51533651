// Drives the settings pages from another thread through window messages, as
// a person's clicks and keys would: finds the sheet, fills fields, switches
// pages, presses buttons and answers message boxes. Shared by the pages
// tests, the mp4vcfg edit test and the picture renderer.
#ifndef MP4V_TESTS_GUI_PAGES_DRIVER_H_
#define MP4V_TESTS_GUI_PAGES_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace pages_driver {

// A thread that may own windows: it runs `body` with an owner window of its
// own (or null) and destroys that window afterwards. When the environment
// names a desktop in MP4V_GUI_DESKTOP, the thread's windows live on that
// desktop (created when missing), apart from every other program's.
class GuiThread {
 public:
  GuiThread(std::function<void(HWND owner)> body, bool with_owner);
  ~GuiThread();  // joins (gives up after a minute: the test failed then)
  GuiThread(const GuiThread&) = delete;
  GuiThread& operator=(const GuiThread&) = delete;

  DWORD id() const { return id_; }
  HWND owner() const { return owner_; }
  // Whether the owner was enabled right after `body` returned.
  bool owner_enabled_after() const { return owner_enabled_after_; }
  // Waits for `body` to return; false when it did not within `ms`.
  bool Join(DWORD ms = 60000);

 private:
  static DWORD WINAPI Main(void* self);

  std::function<void(HWND)> body_;
  bool with_owner_;
  HWND owner_ = nullptr;
  bool owner_enabled_after_ = false;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
};

// The last step the driving thread began ("waiting for the pages to show",
// "setting a field's text", ...): what a test that hangs was doing. Static
// text; never null.
const char* Step();

// For a report on a test that hangs: the thread id of the last GuiThread
// started (0 before any), and a line on each window that thread owns: its
// class, whether it is visible, and whether the thread answers a message
// sent to it within a second ("answers" / "does not answer").
DWORD LastGuiThread();
std::string DescribeThreadWindows(DWORD thread);

// Moves the calling thread to the desktop MP4V_GUI_DESKTOP names (created
// when missing), if it names one; a thread that drives the pages must be on
// theirs to find them. Call it before the thread owns any window.
void UseTestDesktop();

// For the tests of what happens with no display, which ctest runs with
// DISPLAY unset. Windows itself gives every process a display: the case is
// made under Wine alone, which UnderWine tells.
bool UnderWine();
// Empty when this process can make no window at all (it has tried),
// otherwise what keeps the case from being made here.
std::string WhyAWindowCanBeMade();

// Polls `find` until it gives a window; null after `ms`.
HWND WaitFor(const std::function<HWND()>& find, DWORD ms = 30000);
// Waits until `window` is gone; false after `ms`.
bool WaitGone(HWND window, DWORD ms = 30000);

// The visible property sheet owned by thread `thread`, or null.
HWND FindSheet(DWORD thread);
// A visible dialog of thread `thread` owned by `sheet` (a message box), or null.
HWND FindMessageBox(DWORD thread, HWND sheet);
// The texts of the static controls of `dialog` (a message box's message).
std::wstring StaticTexts(HWND dialog);

int PageCount(HWND sheet);
int CurrentPage(HWND sheet);
// Brings page `index` forward as a click on its tab does; its window.
HWND ShowPage(HWND sheet, int index);
// The page showing the control `id`, found by bringing each page forward in
// turn; -1 when none does.
int PageOf(HWND sheet, int id);
// Brings forward the page showing control `id` and returns the control.
HWND ShowControl(HWND sheet, int id);

std::wstring Text(HWND control);
// Sets a field's text as typing does (WM_SETTEXT; the field tells its page).
void SetText(HWND control, const std::wstring& text);
// Chooses item `item` of a drop-down list, with the notification a click sends.
void ChooseItem(HWND list, int item);

// Presses a button of `dialog` (posted BM_CLICK): IDOK, IDCANCEL.
void PressButton(HWND dialog, int id);
// Presses a button of `sheet` as a program does, with PSM_PRESSBUTTON
// (PSBTN_OK, PSBTN_CANCEL): posted, or sent, which returns once the sheet
// has handled it (so never sent when the sheet may answer with a message
// box: this thread, waiting, could not close it).
void PressSheetButton(HWND sheet, int button, bool sent);
// The close box of `window`.
void PressCloseBox(HWND window);
// Posts a key press (down and up) to `window`.
void PostKey(HWND window, UINT key);
// Holds Ctrl (and Shift, if asked) down in the input state of thread
// `thread` for its lifetime, as keys posted meanwhile are read there.
class HeldModifiers {
 public:
  HeldModifiers(DWORD thread, bool shift);
  ~HeldModifiers();
  HeldModifiers(const HeldModifiers&) = delete;
  HeldModifiers& operator=(const HeldModifiers&) = delete;

 private:
  DWORD thread_;
};
// Posts Alt+`letter` to `window`, as a mnemonic is typed.
void PostAltKey(HWND window, wchar_t letter);

// The window with the keyboard focus in thread `thread`.
HWND FocusOf(DWORD thread);
// The selection of an edit field or of a drop-down list's edit part.
void Selection(HWND control, DWORD* start, DWORD* end);

}  // namespace pages_driver

#endif  // MP4V_TESTS_GUI_PAGES_DRIVER_H_
