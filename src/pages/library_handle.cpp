#include "pages/library_handle.h"

#include <cstring>

#include "pages/platform_library.h"

namespace {

constexpr char16_t kDefaultExtension[] = u"dll";

// Appends `text` at `out[*length]`, keeping room for a terminator. False,
// without reading beyond what would fit, when it does not fit.
bool AppendWide(const char16_t* text, char16_t* out, size_t capacity,
                size_t* length) {
  for (; *text != u'\0'; ++text) {
    if (*length + 1 >= capacity) return false;
    out[(*length)++] = *text;
  }
  return true;
}

}  // namespace

int32_t LibraryHandleInit(LibraryHandle* handle) {
  LibraryHandleReset(handle);
  return 1;
}

void LibraryHandleReset(LibraryHandle* handle) {
  if (handle == nullptr) return;
  handle->module = nullptr;
  handle->owned = 0;
  handle->path[0] = u'\0';
  handle->last_error = 0;
  handle->error_text[0] = '\0';
}

int32_t LibraryComposeFileName(const char16_t* name, const char16_t* extension,
                               char16_t* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  out[0] = u'\0';
  if (name == nullptr) return 0;
  size_t length = 0;
  if (!AppendWide(name, out, capacity, &length) ||
      !AppendWide(u".", out, capacity, &length) ||
      !AppendWide(extension != nullptr ? extension : kDefaultExtension, out,
                  capacity, &length)) {
    out[0] = u'\0';
    return 0;
  }
  out[length] = u'\0';
  return 1;
}

int32_t LibraryHandleLoad(LibraryHandle* handle, const char16_t* name,
                          const char16_t* extension) {
  if (handle == nullptr) return 0;
  // The record holds no library here; a reset frees nothing.
  LibraryHandleReset(handle);
  char16_t file_name[kLibraryPathCapacity];
  if (!LibraryComposeFileName(name, extension, file_name,
                              kLibraryPathCapacity)) {
    return 0;
  }
  void* module = PlatformLibraryLoad(file_name);
  if (module == nullptr) return 0;
  handle->module = module;
  handle->owned = 1;
  size_t length = 0;
  while (file_name[length] != u'\0') ++length;
  std::memcpy(handle->path, file_name, (length + 1) * sizeof(char16_t));
  return 1;
}

void* LibraryHandleGetProc(LibraryHandle* handle, const char* entry_name) {
  if (handle == nullptr) return nullptr;
  void* address = PlatformLibraryGetProc(handle->module, entry_name);
  if (address != nullptr) return address;
  handle->last_error = PlatformLibraryLastError();
  handle->error_text[0] = '\0';
  return nullptr;
}

int32_t LibraryHandleUnload(LibraryHandle* handle) {
  if (handle == nullptr) return 1;
  if (handle->owned != 0) PlatformLibraryFree(handle->module);
  handle->owned = 0;
  handle->module = nullptr;
  return 1;
}
