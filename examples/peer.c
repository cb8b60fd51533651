/* Another program that keeps a section of its own in a settings file the
 * configuration module also saves, and takes the same turn as the module's
 * saves, as the README's "What other programs must do" describes: so neither
 * loses what the other wrote.
 *
 *   peer FILE STAMP
 *
 * puts the section "[Peer]" with the one line "stamp=STAMP" (six digits)
 * first in FILE, in place of the section it had there, and keeps every other
 * byte. Exit status 0 when the file holds it, 1 otherwise, with the reason
 * on standard error.
 *
 * Linux: the turn is a write lock on the whole file, which the module takes
 * as an open-file-description lock and which conflicts with the classic
 * record lock taken here. Windows: the turn is the module's named mutex,
 * whose name comes from the file's final path. */
#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#include <wchar.h>
#else
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Where the section "[Peer]" that begins `text` ends (the next line that
 * opens a section), or 0 when the text does not begin with it. */
static size_t own_section_end(const char *text) {
  const char *at = text;
  if (strncmp(text, "[Peer]\n", 7) != 0) return 0;
  at += 7;
  while (*at != '\0' && *at != '[') {
    const char *end = strchr(at, '\n');
    at = end != NULL ? end + 1 : at + strlen(at);
  }
  return (size_t)(at - text);
}

#ifdef _WIN32

enum { kLongest = 32768 }; /* the longest path, in UTF-16 units */

/* The final path of the file or folder `path`, links followed, into `out`
 * (kLongest units); its length, or 0 when it cannot be told. */
static DWORD final_path(const wchar_t *path, wchar_t *out) {
  DWORD length;
  HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  length = GetFinalPathNameByHandleW(handle, out, kLongest,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(handle);
  return length < kLongest ? length : 0;
}

/* Waits, up to 30 seconds, for the turn on `path`: the mutex named
 * "Global\demo_config_mp4v.save." and the 16 hex digits of the FNV-1a hash
 * of the file's final path in capitals (while there is no file: its
 * folder's final path, "\" and its name). The mutex, held, or NULL with the
 * last error set. */
static HANDLE take_turn(const char *path) {
  static wchar_t given[kLongest], key[kLongest];
  wchar_t name[64] = L"Global\\demo_config_mp4v.save.";
  unsigned long long hash = 0xCBF29CE484222325ull;
  size_t at = wcslen(name);
  DWORD length, waited;
  HANDLE mutex;
  int i;
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, given, kLongest) == 0) return NULL;
  length = final_path(given, key);
  if (length == 0) { /* no file (yet) */
    static wchar_t full[kLongest], folder[kLongest];
    const wchar_t *cut;
    length = GetFullPathNameW(given, kLongest, full, NULL);
    if (length == 0 || length >= kLongest) return NULL;
    cut = wcsrchr(full, L'\\');
    wcscpy(key, full); /* the path itself, where its folder cannot be told */
    if (cut != NULL) {
      wcsncpy(folder, full, (size_t)(cut - full) + 1);
      folder[cut - full + 1] = L'\0';
      length = final_path(folder, key);
      if (length == 0) {
        wcscpy(key, full);
      } else if (length + wcslen(cut) < kLongest) {
        wcscpy(key + length, key[length - 1] == L'\\' ? cut + 1 : cut);
      } else {
        return NULL;
      }
    }
    length = (DWORD)wcslen(key);
  }
  LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key, (int)length, key, (int)length);
  for (i = 0; i < (int)length; ++i) hash = (hash ^ (unsigned short)key[i]) * 0x100000001B3ull;
  for (i = 60; i >= 0; i -= 4) name[at++] = L"0123456789abcdef"[(hash >> i) & 0xF];
  name[at] = L'\0';
  mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
  if (mutex == NULL && GetLastError() == ERROR_FILE_NOT_FOUND) {
    /* Made as the module makes it: every account may wait on it. */
    SECURITY_ATTRIBUTES everyone = {sizeof everyone, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;;0x100001;;;WD)", SDDL_REVISION_1, &everyone.lpSecurityDescriptor, NULL)) {
      return NULL;
    }
    mutex = CreateMutexW(&everyone, FALSE, name);
    LocalFree(everyone.lpSecurityDescriptor);
  }
  if (mutex == NULL) return NULL;
  waited = WaitForSingleObject(mutex, 30000);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
  CloseHandle(mutex);
  SetLastError(waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_INVALID_HANDLE);
  return NULL;
}

/* Puts `temporary` in place of `path` in one step. A reader that has the
 * file open without letting others replace it is waited for, up to about
 * 2 seconds. Nonzero when done. */
static int replace(const char *temporary, const char *path) {
  int tries;
  for (tries = 0; tries < 200; ++tries) {
    DWORD error;
    if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return 0;
    Sleep(10);
  }
  return 0;
}

/* Reads the file `path` whole (nothing when there is none); a block of
 * `*size` bytes (plus a terminator) to free, or NULL. */
static char *read_file(const char *path, size_t *size) {
  char *bytes = malloc(1), *more;
  size_t got;
  FILE *in = fopen(path, "rb");
  *size = 0;
  if (in == NULL) {
    if (errno != ENOENT || bytes == NULL) {
      free(bytes);
      return NULL;
    }
    *bytes = '\0';
    return bytes;
  }
  while (bytes != NULL) {
    more = realloc(bytes, *size + 4096 + 1);
    if (more == NULL) break;
    bytes = more;
    got = fread(bytes + *size, 1, 4096, in);
    *size += got;
    if (got < 4096) {
      bytes[*size] = '\0';
      if (ferror(in)) break;
      fclose(in);
      return bytes;
    }
  }
  free(bytes);
  fclose(in);
  return NULL;
}

/* Puts `section` in place of the section "[Peer]" that begins the file
 * `path` (or before all of it), in the turn. Nonzero when done; otherwise
 * says why on standard error. */
static int restamp(const char *path, const char *section) {
  char temporary[MAX_PATH];
  char *text;
  size_t size, keep_from;
  FILE *out;
  HANDLE turn;
  int ok;
  if (snprintf(temporary, sizeof temporary, "%s.peer-%lu", path,
               (unsigned long)GetCurrentProcessId()) >= (int)sizeof temporary) {
    fprintf(stderr, "%s: name too long\n", path);
    return 0;
  }
  turn = take_turn(path);
  if (turn == NULL) {
    fprintf(stderr, "%s: no turn (error %lu)\n", path, (unsigned long)GetLastError());
    return 0;
  }
  /* In the turn: read, change, write a new file beside it, put it in place. */
  text = read_file(path, &size);
  if (text == NULL) {
    perror(path);
    ReleaseMutex(turn);
    CloseHandle(turn);
    return 0;
  }
  keep_from = own_section_end(text);
  out = fopen(temporary, "wb");
  ok = out != NULL && fputs(section, out) >= 0 &&
       fwrite(text + keep_from, 1, size - keep_from, out) == size - keep_from;
  if (out != NULL && fclose(out) != 0) ok = 0;
  if (ok && !replace(temporary, path)) {
    fprintf(stderr, "%s: not replaced (error %lu)\n", path, (unsigned long)GetLastError());
    ok = 0;
  } else if (!ok) {
    perror(temporary);
  }
  if (!ok) remove(temporary);
  free(text);
  ReleaseMutex(turn); /* the turn ends only now, after the new file is in place */
  CloseHandle(turn);
  return ok;
}

#else

/* Opens FILE (creating it when missing) and waits for the turn on it: a
 * write lock on the whole file. The module's saves put a new file under the
 * name, so once the lock is had the name must still lead to the locked file;
 * otherwise the turn is taken again on the new one. The descriptor, or -1. */
static int take_turn(const char *path) {
  for (;;) {
    struct flock lock;
    struct stat opened, named;
    int fd = open(path, O_RDWR | O_CREAT, 0666);
    if (fd < 0) return -1;
    memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET; /* l_start 0, l_len 0: the whole file */
    if (fcntl(fd, F_SETLKW, &lock) != 0) {
      close(fd);
      if (errno == EINTR) continue;
      return -1;
    }
    if (fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino) {
      return fd;
    }
    close(fd); /* gives the lock back */
  }
}

/* Reads the open file `fd` whole; a block of `*size` bytes (plus a
 * terminator) to free, or NULL. */
static char *read_all(int fd, size_t *size) {
  size_t capacity = 4096;
  char *bytes = malloc(capacity + 1);
  *size = 0;
  while (bytes != NULL) {
    ssize_t got;
    if (*size == capacity) {
      char *more = realloc(bytes, 2 * capacity + 1);
      if (more == NULL) break;
      bytes = more;
      capacity *= 2;
    }
    got = read(fd, bytes + *size, capacity - *size);
    if (got == 0) {
      bytes[*size] = '\0';
      return bytes;
    }
    if (got < 0 && errno != EINTR) break;
    if (got > 0) *size += (size_t)got;
  }
  free(bytes);
  return NULL;
}

/* Puts `section` in place of the section "[Peer]" that begins the file
 * `path` (or before all of it), in the turn. Nonzero when done; otherwise
 * says why on standard error. */
static int restamp(const char *path, const char *section) {
  char temporary[4096];
  char *text;
  size_t size, keep_from;
  int fd, out, ok;
  if (snprintf(temporary, sizeof temporary, "%s.peer-%ld", path, (long)getpid()) >=
      (int)sizeof temporary) {
    fprintf(stderr, "%s: name too long\n", path);
    return 0;
  }
  fd = take_turn(path);
  if (fd < 0) {
    perror(path);
    return 0;
  }
  /* In the turn: read, change, write a new file beside it, put it in place. */
  text = read_all(fd, &size);
  if (text == NULL) {
    perror(path);
    close(fd);
    return 0;
  }
  keep_from = own_section_end(text);
  out = open(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
  ok = out >= 0 && write(out, section, strlen(section)) == (ssize_t)strlen(section) &&
       write(out, text + keep_from, size - keep_from) == (ssize_t)(size - keep_from) &&
       fsync(out) == 0;
  if (out >= 0 && close(out) != 0) ok = 0;
  if (ok) ok = rename(temporary, path) == 0;
  if (!ok) {
    perror(path);
    unlink(temporary);
  }
  free(text);
  close(fd); /* the turn ends only now, after the new file is in place */
  return ok;
}

#endif

int main(int argc, char **argv) {
  char section[64];
  if (argc != 3) {
    fprintf(stderr, "usage: peer FILE STAMP\n");
    return 1;
  }
  snprintf(section, sizeof section, "[Peer]\nstamp=%06d\n", atoi(argv[2]));
  return restamp(argv[1], section) ? 0 : 1;
}
