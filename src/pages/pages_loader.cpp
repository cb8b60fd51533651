#include "pages/pages_loader.h"

#include <cstddef>
#include <cstdlib>

namespace {

// The settings-pages library's name, without extension, in two parts.
constexpr char16_t kPagesNamePrefix[] = u"demo_";
constexpr char16_t kPagesNameRest[] = u"config_gui_mp4v";
constexpr char kPagesEntryName[] = "showMP4VEncoderPages";

// The process's one current record. Only GetEncoderPagesEntry and
// ReleaseEncoderPagesLibrary read or change it, from one thread at a time.
LibraryHandle* current_record = nullptr;

}  // namespace

void ReleaseEncoderPagesLibrary() {
  if (current_record == nullptr) return;
  LibraryHandleUnload(current_record);
  LibraryHandleReset(current_record);
  std::free(current_record);
  current_record = nullptr;
}

void* GetEncoderPagesEntry() {
  ReleaseEncoderPagesLibrary();

  // Current at once, so that a failed load still leaves its record current.
  current_record =
      static_cast<LibraryHandle*>(std::calloc(1, sizeof(LibraryHandle)));
  if (current_record == nullptr) return nullptr;
  LibraryHandleInit(current_record);

  char16_t name[kLibraryPathCapacity];
  if (!LibraryJoinWide({kPagesNamePrefix, kPagesNameRest}, name,
                       kLibraryPathCapacity)) {
    return nullptr;
  }
  // No extension: the system is asked for "demo_config_gui_mp4v.dll".
  if (LibraryHandleLoad(current_record, name, nullptr) != 1) return nullptr;

  // Found or not, the library stays loaded and owned by the current record.
  return LibraryHandleGetProc(current_record, kPagesEntryName);
}

const LibraryHandle* CurrentPagesLibraryHandle() { return current_record; }
