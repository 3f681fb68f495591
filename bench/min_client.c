/* The floor for `welkmora check NAME` and `welkmora list`: the same exchange
 * and the same output with nothing else. Reads WELKMORA_SOCKET,
 * WELKMORA_TERMINAL_ID and WELKMORA_TOKEN, sends the request welkmora sends,
 * reads the reply up to its first line feed into one growing buffer, walks
 * its JSON as far as needed to reach the members it prints, decodes those
 * strings in place and prints them as welkmora does. It checks neither
 * UTF-8 nor the nesting depth and knows only the result shapes the
 * benchmark's app gives (a `check` result without `results`).
 *
 * usage: min_client check NAME | min_client list */

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

enum { kRequestMax = 8192, kFirstBlock = 65536 };

static char request[kRequestMax];
static size_t request_len;

static int append(const char* text, size_t len) {
  if (len > kRequestMax - request_len) return 0;
  memcpy(request + request_len, text, len);
  request_len += len;
  return 1;
}

static int append_text(const char* text) { return append(text, strlen(text)); }

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
    ssize_t n = fd == 1 ? write(fd, data, len) : send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    data += n;
    len -= (size_t)n;
  }
  return 1;
}

/* The reply line, read into a buffer that doubles as it fills. */
static char* reply;
static size_t reply_len;

static int read_reply(int fd) {
  size_t cap = kFirstBlock;
  reply = malloc(cap);
  for (;;) {
    if (!reply) return 0;
    ssize_t n = recv(fd, reply + reply_len, cap - reply_len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) return 1;
    char* lf = memchr(reply + reply_len, '\n', (size_t)n);
    reply_len += (size_t)n;
    if (lf) {
      reply_len = (size_t)(lf - reply) + 1;
      return 1;
    }
    if (reply_len == cap) reply = realloc(reply, cap *= 2);
  }
}

/* A cursor over the reply's JSON text. */
static char* at;
static char* end;

static int peek(void) {
  while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
  return at < end ? (unsigned char)*at : -1;
}

static int take(char c) {
  if (peek() != c) return 0;
  ++at;
  return 1;
}

static int hex4(const char* p) {
  int v = 0;
  for (int i = 0; i < 4; ++i) {
    char c = p[i];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

static char* put_utf8(char* out, unsigned cp) {
  if (cp < 0x80) {
    *out++ = (char)cp;
  } else if (cp < 0x800) {
    *out++ = (char)(0xC0 | cp >> 6);
    *out++ = (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = (char)(0xE0 | cp >> 12);
    *out++ = (char)(0x80 | (cp >> 6 & 0x3F));
    *out++ = (char)(0x80 | (cp & 0x3F));
  } else {
    *out++ = (char)(0xF0 | cp >> 18);
    *out++ = (char)(0x80 | (cp >> 12 & 0x3F));
    *out++ = (char)(0x80 | (cp >> 6 & 0x3F));
    *out++ = (char)(0x80 | (cp & 0x3F));
  }
  return out;
}

/* One escape after its backslash: decoded to `*out`, `at` moved past it. */
static int unescape(char** out) {
  static const char from[] = "\"\\/bfnrt", to[] = "\"\\/\b\f\n\r\t";
  if (at >= end) return 0;
  const char* simple = *at != 'u' ? strchr(from, *at) : NULL;
  if (simple && *at) {
    *(*out)++ = to[simple - from];
    ++at;
    return 1;
  }
  if (*at != 'u' || end - at < 5) return 0;
  int cp = hex4(at + 1);
  at += 5;
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    if (end - at < 6 || at[0] != '\\' || at[1] != 'u') return 0;
    int low = hex4(at + 2);
    if (low < 0xDC00 || low > 0xDFFF) return 0;
    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    at += 6;
  } else if (cp < 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) {
    return 0;
  }
  *out = put_utf8(*out, (unsigned)cp);
  return 1;
}

/* A string, decoded in place: its text starts at *text and is *len long. */
static int string(char** text, size_t* len) {
  if (!take('"')) return 0;
  char* out = at;
  *text = out;
  for (;;) {
    char* stop = at;
    while (stop < end && *stop != '"' && *stop != '\\' && (unsigned char)*stop >= 0x20) ++stop;
    memmove(out, at, (size_t)(stop - at));
    out += stop - at;
    at = stop;
    if (at >= end || (unsigned char)*at < 0x20) return 0;
    if (*at++ == '"') break;
    if (!unescape(&out)) return 0;
  }
  *len = (size_t)(out - *text);
  return 1;
}

static int is_key(const char* key, size_t len, const char* word) {
  return len == strlen(word) && memcmp(key, word, len) == 0;
}

/* Calls `member` for each member of an object, with `at` on its value. */
typedef int (*MemberFn)(const char* key, size_t len, void* state);

static int object(MemberFn member, void* state) {
  if (!take('{')) return 0;
  if (take('}')) return 1;
  do {
    char* key;
    size_t len;
    if (!string(&key, &len) || !take(':') || !member(key, len, state)) return 0;
  } while (take(','));
  return take('}');
}

static int value(void);

static int skip_member(const char* key, size_t len, void* state) {
  (void)key, (void)len, (void)state;
  return value();
}

static int array(int (*element)(void* state), void* state) {
  if (!take('[')) return 0;
  if (take(']')) return 1;
  do {
    if (!element(state)) return 0;
  } while (take(','));
  return take(']');
}

static int skip_element(void* state) {
  (void)state;
  return value();
}

/* Whether the next value is the literal true; any other value is skipped. */
static int is_true(void) {
  if (peek() == 't' && end - at >= 4 && memcmp(at, "true", 4) == 0) {
    at += 4;
    return 1;
  }
  return value() ? 0 : -1;
}

/* Skips any value; numbers and literals only as far as their characters go. */
static int value(void) {
  char* text;
  size_t len;
  switch (peek()) {
    case '"': return string(&text, &len);
    case '{': return object(skip_member, NULL);
    case '[': return array(skip_element, NULL);
    case -1: return 0;
    default: {
      char* start = at;
      while (at < end && strchr("+-.0123456789Eaeflnrstu", *at) && *at) ++at;
      return at > start;
    }
  }
}

/* The output, built up and then written at once. */
static char* out;
static size_t out_len, out_cap;

static void put(const char* text, size_t len) {
  if (out_len + len > out_cap) {
    while (out_len + len > out_cap) out_cap = out_cap ? out_cap * 2 : 4096;
    out = realloc(out, out_cap);
    if (!out) exit(1);
  }
  memcpy(out + out_len, text, len);
  out_len += len;
}

/* `check`: the result's `output` and `awaitingInput`. */
struct Check {
  char* output;
  size_t len;
  int awaiting;
};

static int check_member(const char* key, size_t len, void* state) {
  struct Check* c = state;
  if (is_key(key, len, "output")) return peek() == '"' ? string(&c->output, &c->len) : value();
  if (is_key(key, len, "awaitingInput")) return (c->awaiting = is_true()) >= 0;
  return value();
}

static int is_blank(const char* text, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (!strchr(" \t\n\v\f\r", text[i]) || !text[i]) return 0;
  }
  return 1;
}

static int print_check(const char* name) {
  struct Check c = {NULL, 0, 0};
  if (peek() != '{' || !object(check_member, &c)) return 0;
  if (is_blank(c.output, c.len)) return write_all(1, "(keine Ausgabe)\n", 16);
  if (!write_all(1, c.output, c.len) || (c.output[c.len - 1] != '\n' && !write_all(1, "\n", 1))) return 0;
  if (!c.awaiting) return 1;
  static const char tail[] = "' wartet auf Eingabe (Turn nicht beendet — ggf. erneut `ask`, um zu antworten)\n";
  return write_all(2, "⚠ '", strlen("⚠ '")) && write_all(2, name, strlen(name)) && write_all(2, tail, sizeof tail - 1);
}

/* `list`: the names of the agents and notes, with the notes' `connected`. */
struct Named {
  char* name;
  size_t len;
  int connected;
};

struct Names {
  struct Named* items;
  size_t count, cap;
};

static struct Names agents, notes;

static int entry_member(const char* key, size_t len, void* state) {
  struct Named* n = state;
  if (is_key(key, len, "name")) return peek() == '"' ? string(&n->name, &n->len) : value();
  if (is_key(key, len, "connected")) return (n->connected = is_true()) >= 0;
  return value();
}

static int entry(void* state) {
  struct Names* names = state;
  struct Named n = {"?", 1, 0};
  if (peek() != '{' ? !value() : !object(entry_member, &n)) return 0;
  if (names->count == names->cap) {
    names->cap = names->cap ? names->cap * 2 : 64;
    names->items = realloc(names->items, names->cap * sizeof n);
    if (!names->items) return 0;
  }
  names->items[names->count++] = n;
  return 1;
}

static int list_member(const char* key, size_t len, void* state) {
  (void)state;
  struct Names* names = is_key(key, len, "agents") ? &agents : is_key(key, len, "notes") ? &notes : NULL;
  if (!names || peek() != '[') return value();
  names->count = 0;
  return array(entry, names);
}

static int print_list(void) {
  if (peek() != '{' || !object(list_member, NULL)) return 0;
  if (agents.count == 0) put("Keine anderen Agenten verbunden.\n", 33);
  if (agents.count > 0) put("Verbundene Agenten:\n", 20);
  for (size_t i = 0; i < agents.count; ++i) {
    put("  - ", 4);
    put(agents.items[i].name, agents.items[i].len);
    put("\n", 1);
  }
  if (notes.count > 0) put("Notizen:\n", 9);
  for (size_t i = 0; i < notes.count; ++i) {
    put("  - ", 4);
    put(notes.items[i].name, notes.items[i].len);
    if (notes.items[i].connected) put(" (verbunden)", 12);
    put("\n", 1);
  }
  return write_all(1, out, out_len);
}

/* The reply envelope: `ok` must be true; `result` goes to the command. */
struct Envelope {
  const char* name; /* the check's operand; NULL for list */
  int ok, printed;
};

static int envelope_member(const char* key, size_t len, void* state) {
  struct Envelope* e = state;
  if (is_key(key, len, "ok")) return (e->ok = is_true()) >= 0;
  if (!is_key(key, len, "result") || !e->ok) return value();
  e->printed = e->name ? print_check(e->name) : print_list();
  return e->printed;
}

int main(int argc, char** argv) {
  int is_check = argc == 3 && strcmp(argv[1], "check") == 0;
  if (!is_check && !(argc == 2 && strcmp(argv[1], "list") == 0)) return 2;
  const char* path = getenv("WELKMORA_SOCKET");
  struct sockaddr_un addr = {.sun_family = AF_UNIX};
  if (!path || !*path || strlen(path) >= sizeof addr.sun_path) return 1;
  strcpy(addr.sun_path, path);

  int ok = append_text("{\"command\":\"") && append_text(argv[1]) && append_text("\",");
  if (is_check) ok = ok && append_text("\"target\":\"") && append_escaped(argv[2]) && append_text("\",");
  ok = ok && append_text("\"terminalId\":\"") && append_escaped(env_or_empty("WELKMORA_TERMINAL_ID")) &&
       append_text("\",\"token\":\"") && append_escaped(env_or_empty("WELKMORA_TOKEN")) && append_text("\"}\n");
  if (!ok) return 1;

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  ok = connect(fd, (const struct sockaddr*)&addr, sizeof addr) == 0 && write_all(fd, request, request_len) &&
       read_reply(fd);
  close(fd);
  if (!ok) return 1;
  at = reply;
  end = reply + reply_len;
  /* The check run prints the output on its way; the envelope then ends. */
  struct Envelope e = {is_check ? argv[2] : NULL, 0, 0};
  if (peek() != '{' || !object(envelope_member, &e)) return 1;
  return e.printed ? 0 : 1;
}
