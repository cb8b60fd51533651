/*
 * host.c - an example host of the encoder configuration module.
 *
 *   host SETTINGS_FILE [--pages]
 *
 * Loads demo_config_mp4v.dll (demo_config_mp4v.so on Linux) by its full path
 * from this program's own directory, prints every information item, loads
 * SETTINGS_FILE into a record that holds this host's own defaults, sets the
 * width to 720, saves that change with the update request (onto the file as
 * it is then, so that what another program or another copy of this host
 * wrote since the load stays), loads the file again and checks what it
 * holds. Then it asks for the settings pages: with --pages it opens them on
 * the record and, when the person presses OK, updates the file with what
 * they changed. A load that fails (a file it may not read, one another
 * program holds, UTF-16 text) ends the program: the record then holds this
 * host's defaults, not the person's settings, and nothing is saved.
 *
 * A request that fails says why through the thread's last error; this host
 * prints it (its text and its number) with the failure.
 *
 * Exit status: 0 when every step did what the module promises, 1 when a
 * step failed, 2 for a wrong command line.
 *
 * Plain C11; it compiles warning-free as C++11 and later too.
 */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* readlink and PATH_MAX under -std=c11 */
#endif
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include "mp4v_config.h"

/* The table hands out functions as untyped addresses. Neither C nor C++
 * converts an object pointer into a function pointer with a cast that every
 * compiler takes without a warning, so the address's bytes are copied into
 * the function pointer instead. */
#define HOST_FUNCTION_FROM_ADDRESS(function, address)         \
  do {                                                        \
    void *host_address_ = (address);                          \
    memcpy(&(function), &host_address_, sizeof(function));    \
  } while (0)

/* Loads the module by its full path beside this program and returns its
 * export, or null. A bare name would let the system search other places,
 * the current directory among them. */
static MP4VConfigGetAPIExtFn OpenModule(void) {
#ifdef _WIN32
  wchar_t path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  HMODULE module;
  if (length == 0 || length >= MAX_PATH) return NULL;
  while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/') --length;
  wcscpy(path + length, L"demo_config_mp4v.dll");
  /* The module's own imports are then looked for beside it first. */
  module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == NULL) return NULL;
  /* FARPROC to the export's type: a cast through void (*)(void), the one
   * function pointer type every other one converts to without a warning. */
  return (MP4VConfigGetAPIExtFn)(void (*)(void))GetProcAddress(
      module, MP4V_CONFIG_GET_API_EXT_NAME);
#else
  char path[PATH_MAX + 32];
  ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  void *module;
  MP4VConfigGetAPIExtFn get_api;
  if (length <= 0 || length >= PATH_MAX) return NULL;
  while (length > 0 && path[length - 1] != '/') --length;
  strcpy(path + length, "demo_config_mp4v.so");
  module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (module == NULL) return NULL;
  HOST_FUNCTION_FROM_ADDRESS(get_api, dlsym(module, MP4V_CONFIG_GET_API_EXT_NAME));
  return get_api;
#endif
}

/* Prints the five information items. Returns 0, or 1 when one is refused. */
static int PrintInformation(MP4VConfigGetInfoFn get_info) {
  static const struct {
    uint32_t item;
    uint32_t length;
    int is_text;
    const char *label;
  } items[] = {
      {MP4V_INFO_MODULE_NAME, MP4V_INFO_MODULE_NAME_LENGTH, 1, "module"},
      {MP4V_INFO_VALUE_0, MP4V_INFO_VALUE_0_LENGTH, 0, "item 2"},
      {MP4V_INFO_VALUE_2, MP4V_INFO_VALUE_2_LENGTH, 0, "item 3"},
      {MP4V_INFO_VERSION, MP4V_INFO_VERSION_LENGTH, 1, "version"},
      {MP4V_INFO_PLATFORM, MP4V_INFO_PLATFORM_LENGTH, 1, "platform"},
  };
  size_t i;
  for (i = 0; i < sizeof items / sizeof items[0]; ++i) {
    unsigned char buffer[MP4V_INFO_MAX_BYTES];
    if (get_info(items[i].item, buffer) != MP4V_STATUS_OK) {
      fprintf(stderr, "host: information item %u refused\n", (unsigned)items[i].item);
      return 1;
    }
    if (items[i].is_text) {
      /* No terminating zero: exactly `length` characters. */
      printf("%-10s %.*s\n", items[i].label, (int)items[i].length, (const char *)buffer);
    } else {
      const uint32_t value = (uint32_t)buffer[0] | (uint32_t)buffer[1] << 8 |
                             (uint32_t)buffer[2] << 16 | (uint32_t)buffer[3] << 24;
      printf("%-10s %lu\n", items[i].label, (unsigned long)value);
    }
  }
  return 0;
}

/* Prints that `what` failed for `file`, and why: the calling thread's last
 * error, which a load, save or update request sets as its last step when it
 * returns MP4V_STATUS_FAILED. Call it right after that request, before
 * anything else can change the last error. */
static void PrintFailure(const char *file, const char *what) {
#ifdef _WIN32
  const DWORD code = GetLastError();
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                NULL, code, 0, text, (DWORD)sizeof text, NULL);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    text[--length] = '\0';
  }
  fprintf(stderr, "host: %s: %s: %s (error %lu)\n", file, what,
          length > 0 ? text : "no text for this code", (unsigned long)code);
#else
  const int code = errno;
  fprintf(stderr, "host: %s: %s: %s (errno %d)\n", file, what, strerror(code), code);
#endif
}

/* This host's own defaults: a load changes only the fields the file gives. */
static void SetDefaults(MP4VSettings *settings) {
  memset(settings, 0, sizeof *settings);
  settings->width = 640;
  settings->height = 480;
  settings->frame_rate = 25.0;
  settings->num_threads = 1;
}

/* Opens the settings pages on `settings` (MP4V_FUNC_SETTINGS_PAGES, then
 * the entry it hands out) and updates the file with what the person changed
 * when OK was pressed.
 * Returns 0, or 1 when the pages could not be shown or the save failed. */
static int EditInPages(MP4VConfigGetAPIExtFn get_api, MP4VConfigUpdateFn update,
                       MP4VSettings *settings, const char *file, int open_pages) {
  MP4VShowEncoderPagesFn show_pages;
  MP4VSettings loaded = *settings; /* the record as the file gave it */
  /* Every such request frees the library the previous one loaded: keep only
   * the latest address, and make these requests from one thread. */
  HOST_FUNCTION_FROM_ADDRESS(show_pages, get_api(MP4V_FUNC_SETTINGS_PAGES));
  if (show_pages == NULL) {
    printf("pages     not available (no demo_config_gui_mp4v.dll beside the module)\n");
    return 0;
  }
  if (!open_pages) {
    printf("pages     available (--pages opens them)\n");
    return 0;
  }
  switch (show_pages(NULL, settings)) { /* no owner window here */
    case MP4V_PAGES_OK:
      printf("pages     OK: saving the changes\n");
      /* Only what the person changed goes into the file as it is now. */
      if (update(settings, &loaded, file) != MP4V_STATUS_OK) {
        PrintFailure(file, "could not save (the file is as it was)");
        return 1;
      }
      return 0;
    case MP4V_PAGES_CANCELLED:
      printf("pages     cancelled: the record is as it was\n");
      return 0;
    default: /* MP4V_PAGES_FAILED */
      fprintf(stderr, "host: the settings pages could not be shown\n");
      return 1;
  }
}

int main(int argc, char **argv) {
  MP4VConfigGetAPIExtFn get_api;
  MP4VConfigGetInfoFn get_info;
  MP4VConfigLoadFn load;
  MP4VConfigUpdateFn update;
  MP4VSettings settings, loaded, again;
  const char *file;
  int open_pages;

  if (argc < 2 || argc > 3 || (argc == 3 && strcmp(argv[2], "--pages") != 0)) {
    fprintf(stderr, "usage: host SETTINGS_FILE [--pages]\n");
    return 2;
  }
  file = argv[1];
  open_pages = argc == 3;

  get_api = OpenModule();
  if (get_api == NULL) {
    fprintf(stderr, "host: cannot load the module beside this program\n");
    return 1;
  }
  HOST_FUNCTION_FROM_ADDRESS(get_info, get_api(MP4V_FUNC_GET_INFO));
  HOST_FUNCTION_FROM_ADDRESS(load, get_api(MP4V_FUNC_LOAD));
  HOST_FUNCTION_FROM_ADDRESS(update, get_api(MP4V_FUNC_UPDATE));
  if (get_info == NULL || load == NULL || update == NULL) {
    fprintf(stderr, "host: the module does not hand out its functions\n");
    return 1;
  }
  if (PrintInformation(get_info) != 0) return 1;

  /* A missing file loads nothing and succeeds: the record keeps the
   * defaults. A load that fails (a refused name, or a file that is there
   * but could not be read) leaves the record as it was: save nothing then,
   * or the defaults would replace the person's settings. */
  SetDefaults(&settings);
  if (load(&settings, file) != MP4V_STATUS_OK) {
    PrintFailure(file, "could not load (nothing is saved)");
    return 1;
  }
  loaded = settings;
  printf("loaded    %s: %ldx%ld at %.3f frames per second\n", file, (long)settings.width,
         (long)settings.height, settings.frame_rate);

  settings.width = 720;
  /* The change onto the file as it is now; `settings` comes back as saved,
   * with what others wrote since the load. */
  if (update(&settings, &loaded, file) != MP4V_STATUS_OK) {
    PrintFailure(file, "could not save (the file is as it was)");
    return 1;
  }
  SetDefaults(&again);
  if (load(&again, file) != MP4V_STATUS_OK || again.width != 720 ||
      again.height != settings.height || again.num_threads != settings.num_threads) {
    fprintf(stderr, "host: %s: the saved settings did not load back\n", file);
    return 1;
  }
  printf("saved     %s: width %ld, loaded back\n", file, (long)again.width);

  return EditInPages(get_api, update, &again, file, open_pages);
}
