#include "pages/pages_loader.h"

#include <cstddef>
#include <cstdlib>
#include <initializer_list>

namespace {

// The settings-pages library's name, without extension, in two parts.
constexpr char16_t kPagesNamePrefix[] = u"demo_";
constexpr char16_t kPagesNameRest[] = u"config_gui_mp4v";
constexpr char kPagesEntryName[] = "showMP4VEncoderPages";

// The process's one current record. Only the settings-pages request (and
// ReleaseEncoderPagesLibrary) read or change it; requests come from one
// thread at a time.
LibraryHandle* current_record = nullptr;

// Writes `first` followed by `second` into `out` (`capacity` characters,
// terminator included). False when they do not fit.
bool JoinWide(const char16_t* first, const char16_t* second, char16_t* out,
              size_t capacity) {
  size_t length = 0;
  for (const char16_t* part : {first, second}) {
    for (; *part != u'\0'; ++part) {
      if (length + 1 >= capacity) return false;
      out[length++] = *part;
    }
  }
  out[length] = u'\0';
  return true;
}

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
  if (!JoinWide(kPagesNamePrefix, kPagesNameRest, name, kLibraryPathCapacity)) {
    return nullptr;
  }
  // No extension: the system is asked for "demo_config_gui_mp4v.dll".
  if (LibraryHandleLoad(current_record, name, nullptr) != 1) return nullptr;

  // Found or not, the library stays loaded and owned by the current record.
  return LibraryHandleGetProc(current_record, kPagesEntryName);
}

const LibraryHandle* CurrentPagesLibraryHandle() { return current_record; }
