#include "gui/pages_driver.h"

#include <commctrl.h>

#include <atomic>
#include <cstdlib>

namespace pages_driver {
namespace {

constexpr DWORD kPollMs = 20;

std::atomic<const char*> g_step{"none yet"};
void Begin(const char* step) { g_step.store(step, std::memory_order_relaxed); }
std::atomic<DWORD> g_gui_thread{0};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct Search {
  HWND found;
  std::function<bool(HWND)> accept;
};

BOOL CALLBACK AcceptFirst(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  if (search->accept(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FirstThreadWindow(DWORD thread, std::function<bool(HWND)> accept) {
  Search search{nullptr, std::move(accept)};
  EnumThreadWindows(thread, &AcceptFirst, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

bool IsDialog(HWND window) {
  return IsWindowVisible(window) && ClassOf(window) == L"#32770";
}

}  // namespace

const char* Step() { return g_step.load(std::memory_order_relaxed); }

DWORD LastGuiThread() { return g_gui_thread.load(std::memory_order_relaxed); }

std::string DescribeThreadWindows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  std::string lines;
  for (HWND window : windows) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD_PTR ignored = 0;
    const bool answers = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 1000,
                                             &ignored) != 0;
    lines += std::string("window of class ") + name +
             (IsWindowVisible(window) ? ", visible" : ", hidden") +
             (answers ? ": answers\n" : ": does not answer\n");
  }
  return lines.empty() ? std::string("no windows\n") : lines;
}

// On a desktop of their own the pages meet no other program's windows, and
// no other program meets the display they are shown on.
void UseTestDesktop() {
  const wchar_t* name = _wgetenv(L"MP4V_GUI_DESKTOP");
  if (name == nullptr || *name == L'\0') return;
  Begin("moving a thread to the test desktop (CreateDesktop)");
  HDESK desktop = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (desktop != nullptr) SetThreadDesktop(desktop);
}

GuiThread::GuiThread(std::function<void(HWND)> body, bool with_owner)
    : body_(std::move(body)), with_owner_(with_owner) {
  Begin("starting the pages' thread (moving it to the test desktop)");
  ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, &GuiThread::Main, this, 0, &id_);
  g_gui_thread.store(id_, std::memory_order_relaxed);
  WaitForSingleObject(ready_, INFINITE);
}

GuiThread::~GuiThread() {
  // A dialog that never showed or never closed has failed its test already;
  // the program must still end instead of waiting for it forever.
  if (!Join(60000)) TerminateThread(thread_, 1);
  CloseHandle(thread_);
  CloseHandle(ready_);
}

bool GuiThread::Join(DWORD ms) {
  Begin("waiting for the pages' thread to end");
  return WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0;
}

DWORD WINAPI GuiThread::Main(void* data) {
  GuiThread* self = static_cast<GuiThread*>(data);
  UseTestDesktop();
  if (self->with_owner_) {
    self->owner_ = CreateWindowExW(0, L"STATIC", L"Host window", WS_OVERLAPPEDWINDOW,
                                   40, 40, 640, 480, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(self->owner_, SW_SHOWNOACTIVATE);
  }
  SetEvent(self->ready_);
  self->body_(self->owner_);
  if (self->owner_ != nullptr) {
    self->owner_enabled_after_ = IsWindowEnabled(self->owner_) != FALSE;
    DestroyWindow(self->owner_);
  }
  return 0;
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string WhyAWindowCanBeMade() {
  Begin("making a window to see whether there is a display");
  HWND window = CreateWindowExW(0, L"STATIC", L"Is there a display?", WS_OVERLAPPEDWINDOW, 0, 0,
                                100, 100, nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) return "";
  DestroyWindow(window);
  if (!UnderWine()) return "Windows itself gives every process a display";
  return "this process made a window, so it has a display: run it as ctest does, with DISPLAY "
         "unset (the test's ENVIRONMENT_MODIFICATION), under a Wine whose graphics driver is "
         "X11 alone (HKCU\\Software\\Wine\\Drivers, value Graphics, unset or \"x11\")";
}

HWND WaitFor(const std::function<HWND()>& find, DWORD ms) {
  Begin("waiting for a window (the sheet, a message box or a state)");
  for (DWORD waited = 0;; waited += kPollMs) {
    if (HWND window = find()) return window;
    if (waited >= ms) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitGone(HWND window, DWORD ms) {
  Begin("waiting for a window to close");
  for (DWORD waited = 0;; waited += kPollMs) {
    if (!IsWindow(window)) return true;
    if (waited >= ms) return false;
    Sleep(kPollMs);
  }
}

HWND FindSheet(DWORD thread) {
  return FirstThreadWindow(thread, [](HWND window) {
    // Shown, and its first page made: the fields hold their texts.
    return IsDialog(window) && PropSheet_GetTabControl(window) != nullptr &&
           PropSheet_GetCurrentPageHwnd(window) != nullptr;
  });
}

HWND FindMessageBox(DWORD thread, HWND sheet) {
  return FirstThreadWindow(thread, [sheet](HWND window) {
    return window != sheet && IsDialog(window) && GetWindow(window, GW_OWNER) == sheet;
  });
}

std::wstring StaticTexts(HWND dialog) {
  std::wstring texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == L"Static") texts += Text(child) + L"\n";
  }
  return texts;
}

int PageCount(HWND sheet) {
  return TabCtrl_GetItemCount(PropSheet_GetTabControl(sheet));
}

int CurrentPage(HWND sheet) {
  return TabCtrl_GetCurSel(PropSheet_GetTabControl(sheet));
}

HWND ShowPage(HWND sheet, int index) {
  Begin("bringing a page forward (PSM_SETCURSEL)");
  PropSheet_SetCurSel(sheet, nullptr, index);
  return PropSheet_GetCurrentPageHwnd(sheet);
}

int PageOf(HWND sheet, int id) {
  for (int page = 0; page < PageCount(sheet); ++page) {
    if (GetDlgItem(ShowPage(sheet, page), id) != nullptr) return page;
  }
  return -1;
}

HWND ShowControl(HWND sheet, int id) {
  const int page = PageOf(sheet, id);
  return page < 0 ? nullptr : GetDlgItem(ShowPage(sheet, page), id);
}

std::wstring Text(HWND control) {
  Begin("reading a control's text (WM_GETTEXT)");
  wchar_t text[512] = {};
  SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return text;
}

void SetText(HWND control, const std::wstring& text) {
  Begin("setting a field's text (WM_SETTEXT)");
  SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ChooseItem(HWND list, int item) {
  Begin("choosing a list item (CB_SETCURSEL)");
  SendMessageW(list, CB_SETCURSEL, item, 0);
  SendMessageW(GetParent(list), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

void PressButton(HWND dialog, int id) {
  PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void PressSheetButton(HWND sheet, int button, bool sent) {
  Begin(sent ? "pressing a sheet button (PSM_PRESSBUTTON, sent)"
             : "pressing a sheet button (PSM_PRESSBUTTON, posted)");
  if (sent) {
    SendMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
  } else {
    PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
  }
}

void PressCloseBox(HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void PostKey(HWND window, UINT key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// Key state belongs to an input queue: joined to the pages' queue, this
// thread presses the keys there.
HeldModifiers::HeldModifiers(DWORD thread, bool shift) : thread_(thread) {
  AttachThreadInput(GetCurrentThreadId(), thread_, TRUE);
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] |= 0x80;
  if (shift) keys[VK_SHIFT] |= 0x80;
  SetKeyboardState(keys);
}

HeldModifiers::~HeldModifiers() {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] &= 0x7F;
  keys[VK_SHIFT] &= 0x7F;
  SetKeyboardState(keys);
  AttachThreadInput(GetCurrentThreadId(), thread_, FALSE);
}

void PostAltKey(HWND window, wchar_t letter) {
  PostMessageW(window, WM_SYSCHAR, letter, 0x20000001);  // bit 29: Alt is down
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

void Selection(HWND control, DWORD* start, DWORD* end) {
  *start = *end = 0;
  const UINT message = ClassOf(control) == L"ComboBox" ? CB_GETEDITSEL : EM_GETSEL;
  SendMessageW(control, message, reinterpret_cast<WPARAM>(start),
               reinterpret_cast<LPARAM>(end));
}

}  // namespace pages_driver
