// pages_render FILE: opens the settings pages over FILE (loaded through the
// module, the pages reached through request 0x2008, as a host does), brings
// each page forward in turn and waits for its picture to be taken, then
// cancels. For each page it prints "page INDEX X Y WIDTH HEIGHT" (the sheet's
// place on the screen) and waits for a line on standard input before going
// on. scripts/render-pages.sh takes the pictures.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "gui/pages_driver.h"
#include "host/module_library.h"
#include "mp4v_config.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pages_render FILE\n");
    return 2;
  }
  mp4v_host::ModuleLibrary module;
  std::string error;
  if (!module.Open("", &error)) {
    std::fprintf(stderr, "pages_render: %s\n", error.c_str());
    return 1;
  }
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  if (module.load()(&record, argv[1]) != MP4V_STATUS_OK) {
    std::fprintf(stderr, "pages_render: the module refuses %s\n", argv[1]);
    return 1;
  }
  auto show = reinterpret_cast<MP4VShowEncoderPagesFn>(
      module.get_api()(MP4V_FUNC_SETTINGS_PAGES));
  if (show == nullptr) {
    std::fprintf(stderr, "pages_render: request 0x2008 gives no settings pages\n");
    return 1;
  }
  int32_t result = MP4V_PAGES_FAILED;
  pages_driver::GuiThread gui([&](HWND) { result = show(nullptr, &record); }, false);
  HWND sheet = pages_driver::WaitFor([&] { return pages_driver::FindSheet(gui.id()); });
  if (sheet == nullptr) {
    std::fprintf(stderr, "pages_render: the pages did not show\n");
    return 1;
  }
  // Active, as it is in front of the person who opened it: the foreground
  // may be given by a thread sharing the pages' input state.
  AttachThreadInput(GetCurrentThreadId(), gui.id(), TRUE);
  SetForegroundWindow(sheet);
  AttachThreadInput(GetCurrentThreadId(), gui.id(), FALSE);
  for (int page = 0; page < pages_driver::PageCount(sheet); ++page) {
    pages_driver::ShowPage(sheet, page);
    // The focus rectangle of the first field belongs in the picture.
    RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(400);
    RECT frame{};
    GetWindowRect(sheet, &frame);
    std::printf("page %d %ld %ld %ld %ld\n", page, frame.left, frame.top,
                frame.right - frame.left, frame.bottom - frame.top);
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) break;
  }
  pages_driver::PressButton(sheet, IDCANCEL);
  if (!gui.Join()) return 1;
  return result == MP4V_PAGES_CANCELLED ? 0 : 1;
}
