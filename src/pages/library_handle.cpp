#include "pages/library_handle.h"

#include <cstring>

#include "platform/libraries.h"

namespace {

constexpr char16_t kDefaultExtension[] = u"dll";

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

int32_t LibraryJoinWide(std::initializer_list<const char16_t*> parts,
                        char16_t* out, size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  size_t length = 0;
  for (const char16_t* part : parts) {
    if (part == nullptr) {
      out[0] = u'\0';
      return 0;
    }
    for (; *part != u'\0'; ++part) {
      if (length + 1 >= capacity) {
        out[0] = u'\0';
        return 0;
      }
      out[length++] = *part;
    }
  }
  out[length] = u'\0';
  return 1;
}

int32_t LibraryComposeFileName(const char16_t* name, const char16_t* extension,
                               char16_t* out, size_t capacity) {
  return LibraryJoinWide(
      {name, u".", extension != nullptr ? extension : kDefaultExtension}, out,
      capacity);
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
