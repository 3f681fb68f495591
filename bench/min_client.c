/* The floor for `welkmora list`: the same exchange with nothing else. Reads
 * WELKMORA_SOCKET, WELKMORA_TERMINAL_ID and WELKMORA_TOKEN, sends
 * {"command":"list","terminalId":"<id>","token":"<tok>"} and a line feed,
 * copies the reply up to its first line feed to standard output and exits. */

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

enum { kRequestMax = 8192, kReadBlock = 8192 };

static char request[kRequestMax];
static size_t request_len;

static int append(const char* text, size_t len) {
  if (len > kRequestMax - request_len) return 0;
  memcpy(request + request_len, text, len);
  request_len += len;
  return 1;
}

/* Appends `value` as the body of a JSON string: quote, backslash and control
 * characters escaped, every other byte as it stands. */
static int append_escaped(const char* value) {
  static const char hex[] = "0123456789abcdef";
  for (const unsigned char* p = (const unsigned char*)value; *p; ++p) {
    char esc[6] = {'\\', 'u', '0', '0', hex[*p >> 4], hex[*p & 15]};
    int ok = *p == '"' || *p == '\\' ? append((const char[]){'\\', (char)*p}, 2)
             : *p < 0x20             ? append(esc, sizeof esc)
                                     : append((const char*)p, 1);
    if (!ok) return 0;
  }
  return 1;
}

static const char* env_or_empty(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

static int write_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n <= 0) return 0;
    data += n;
    len -= (size_t)n;
  }
  return 1;
}

static int copy_first_line(int fd) {
  char buf[kReadBlock];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) return 0;
    if (n == 0) return 1;
    const char* lf = memchr(buf, '\n', (size_t)n);
    size_t len = lf ? (size_t)(lf - buf) + 1 : (size_t)n;
    for (size_t done = 0; done < len;) {
      ssize_t w = write(1, buf + done, len - done);
      if (w <= 0) return 0;
      done += (size_t)w;
    }
    if (lf) return 1;
  }
}

int main(void) {
  const char* path = getenv("WELKMORA_SOCKET");
  struct sockaddr_un addr = {.sun_family = AF_UNIX};
  if (!path || !*path || strlen(path) >= sizeof addr.sun_path) return 1;
  strcpy(addr.sun_path, path);

  static const char head[] = "{\"command\":\"list\",\"terminalId\":\"";
  static const char mid[] = "\",\"token\":\"";
  static const char tail[] = "\"}\n";
  if (!append(head, sizeof head - 1) || !append_escaped(env_or_empty("WELKMORA_TERMINAL_ID")) ||
      !append(mid, sizeof mid - 1) || !append_escaped(env_or_empty("WELKMORA_TOKEN")) ||
      !append(tail, sizeof tail - 1)) {
    return 1;
  }

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  int ok = connect(fd, (const struct sockaddr*)&addr, sizeof addr) == 0 && write_all(fd, request, request_len) &&
           copy_first_line(fd);
  close(fd);
  return ok ? 0 : 1;
}
