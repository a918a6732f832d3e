/* The floor of the peer benchmark: every input file read once and appended to one output file
 * with a plain read()/write() loop, nothing else. No image tool can do less work than this.
 *
 *   floor_copy [-b BYTES | -k] OUT LIST
 *
 * LIST holds the input paths separated by NUL bytes (find -print0 form), so that listing the
 * input is not part of the timed work. BYTES is the buffer size (default 128 KiB, as cat uses
 * when it cannot copy inside the kernel). -k copies with copy_file_range() instead, inside the
 * kernel, one call per file as long as the kernel copies all of it: for telling what the
 * in-kernel copy costs per file against read()/write() (profiling, not the floor).
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int fail(const char *what, const char *path) {
  fprintf(stderr, "floor_copy: %s %s: %s\n", what, path, strerror(errno));
  return 1;
}

/* Writes all n bytes, going on after short writes. */
static int write_all(int fd, const char *data, size_t n) {
  while (n > 0) {
    ssize_t done = write(fd, data, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += done;
    n -= (size_t)done;
  }
  return 0;
}

/* Reads the whole list file into a NUL-terminated buffer; *size gets its length. */
static char *read_list(const char *path, size_t *size) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return NULL;
  struct stat st;
  char *list = NULL;
  if (fstat(fd, &st) == 0 && (list = malloc((size_t)st.st_size + 1)) != NULL) {
    size_t have = 0;
    ssize_t got;
    while (have < (size_t)st.st_size &&
           (got = read(fd, list + have, (size_t)st.st_size - have)) > 0)
      have += (size_t)got;
    list[have] = '\0';
    *size = have;
  }
  close(fd);
  return list;
}

/* Copies all of in to out inside the kernel; 0 when done, -1 on failure. */
static int copy_in_kernel(int in, int out) {
  for (;;) {
    ssize_t done = copy_file_range(in, NULL, out, NULL, (size_t)1 << 30, 0);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return (int)done;
  }
}

int main(int argc, char **argv) {
  size_t buffer_size = 128 << 10;
  int in_kernel = 0;
  int arg = 1;
  if (argc == 5 && strcmp(argv[1], "-b") == 0) {
    buffer_size = strtoul(argv[2], NULL, 10);
    arg = 3;
  } else if (argc == 4 && strcmp(argv[1], "-k") == 0) {
    in_kernel = 1;
    arg = 2;
  }
  if (argc - arg != 2 || buffer_size == 0) {
    fprintf(stderr, "usage: floor_copy [-b BYTES | -k] OUT LIST\n");
    return 2;
  }
  const char *out_path = argv[arg], *list_path = argv[arg + 1];

  size_t list_size = 0;
  char *list = read_list(list_path, &list_size);
  if (list == NULL) return fail("cannot read list", list_path);
  char *buffer = malloc(buffer_size);
  if (buffer == NULL) return fail("cannot allocate buffer for", out_path);
  int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return fail("cannot create", out_path);

  for (size_t at = 0; at < list_size; at += strlen(list + at) + 1) {
    const char *path = list + at;
    if (*path == '\0') continue;
    int in = open(path, O_RDONLY);
    if (in < 0) return fail("cannot open", path);
    if (in_kernel && copy_in_kernel(in, out) != 0) return fail("cannot copy", path);
    for (; !in_kernel;) {
      ssize_t got = read(in, buffer, buffer_size);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return fail("cannot read", path);
      if (got == 0) break;
      if (write_all(out, buffer, (size_t)got) != 0) return fail("cannot write", out_path);
    }
    close(in);
  }
  if (close(out) != 0) return fail("cannot close", out_path);
  free(buffer);
  free(list);
  return 0;
}
