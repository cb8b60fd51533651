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
 * POSIX only: the turn is a write lock on the whole file, which the module
 * takes as an open-file-description lock and which conflicts with the
 * classic record lock taken here. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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

int main(int argc, char **argv) {
  char temporary[4096], section[64];
  char *text;
  size_t size, keep_from;
  int fd, out, ok;
  if (argc != 3) {
    fprintf(stderr, "usage: peer FILE STAMP\n");
    return 1;
  }
  if (snprintf(temporary, sizeof temporary, "%s.peer-%ld", argv[1], (long)getpid()) >=
      (int)sizeof temporary) {
    fprintf(stderr, "%s: name too long\n", argv[1]);
    return 1;
  }
  snprintf(section, sizeof section, "[Peer]\nstamp=%06d\n", atoi(argv[2]));
  fd = take_turn(argv[1]);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  /* In the turn: read, change, write a new file beside it, put it in place. */
  text = read_all(fd, &size);
  if (text == NULL) {
    perror(argv[1]);
    close(fd);
    return 1;
  }
  keep_from = own_section_end(text);
  out = open(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
  ok = out >= 0 && write(out, section, strlen(section)) == (ssize_t)strlen(section) &&
       write(out, text + keep_from, size - keep_from) == (ssize_t)(size - keep_from) &&
       fsync(out) == 0;
  if (out >= 0 && close(out) != 0) ok = 0;
  if (ok) ok = rename(temporary, argv[1]) == 0;
  if (!ok) {
    perror(argv[1]);
    unlink(temporary);
  }
  free(text);
  close(fd); /* the turn ends only now, after the new file is in place */
  return ok ? 0 : 1;
}
