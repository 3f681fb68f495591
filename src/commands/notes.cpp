// The `note` family: list, create, read, write, edit and delete the shared
// notes that the app keeps on its canvas.

#include "notes.h"

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

namespace {

constexpr std::string_view kNoteUsage =
    "usage: welkmora note list | create | read | write | edit | delete (see 'welkmora help')";
constexpr std::string_view kReadUsage = "usage: welkmora note read \"Name\" [--offset N] [--limit M]";
constexpr std::string_view kWriteUsage = "usage: welkmora note write \"Name\" \"content\"";
constexpr std::string_view kEditUsage = "usage: welkmora note edit \"Name\" \"old\" \"new\"";
constexpr std::string_view kDeleteUsage = "usage: welkmora note delete \"Name\"";

/// Adds one subcommand's members to a request that already holds `sub`.
using FillFn = void (*)(Words words, Json& request);

void fill_list(Words, Json&) {}

void fill_create(Words words, Json& request) {
  if (words.size() > 2) request["name"] = words[2];
  if (words.size() > 3) {
    request["content"] = words[3];
  } else if (std::optional<std::string> piped = read_stdin_content()) {
    request["content"] = std::move(*piped);
  }
}

/// The words from 3 on, in pairs of a flag and its value.
void fill_read_flags(Words words, Json& request) {
  for (std::size_t i = 3; i < words.size(); i += 2) {
    std::string_view flag = words[i];
    if (flag != "--offset" && flag != "--limit") {
      out::fail(std::string("unknown note read flag: ").append(flag));
    }
    std::optional<std::string_view> value;
    if (i + 1 < words.size()) value = words[i + 1];
    request[flag == "--offset" ? "offset" : "limit"] = parse_usize_flag(value, flag);
  }
}

void fill_read(Words words, Json& request) {
  if (words.size() < 3) out::fail(kReadUsage);
  request["name"] = words[2];
  fill_read_flags(words, request);
}

void fill_write(Words words, Json& request) {
  if (words.size() < 3) out::fail(kWriteUsage);
  request["name"] = words[2];
  if (words.size() > 3) {
    request["content"] = words[3];
    return;
  }
  std::optional<std::string> piped = read_stdin_content();
  if (!piped) out::fail(kWriteUsage);
  request["content"] = std::move(*piped);
}

void fill_edit(Words words, Json& request) {
  if (words.size() < 5) out::fail(kEditUsage);
  request["name"] = words[2];
  request["old"] = words[3];
  request["new"] = words[4];
}

void fill_delete(Words words, Json& request) {
  if (words.size() < 3) out::fail(kDeleteUsage);
  request["name"] = words[2];
}

void render_list(Value result) {
  reply::Elements notes = fields::list(result, "notes");
  if (notes.empty()) {
    out::write("Keine Notizen vorhanden.\n");
    return;
  }
  std::string text = "Notizen:\n";
  for (Value note : notes) text.append("  - ").append(fields::text(note, "name", "?")).push_back('\n');
  out::write(text);
}

void render_read(Value result) {
  std::string_view content = fields::text(result, "content");
  if (content.empty()) {
    out::write("(leere Notiz)\n");
    return;
  }
  out::write(content);
  if (content.back() != '\n') out::write("\n");
}

void render_create(Value result) { fields::print_named("Notiz angelegt: ", result); }
void render_update(Value result) { fields::print_named("Notiz aktualisiert: ", result); }
void render_delete(Value result) { fields::print_named("Notiz gelöscht: ", result); }

struct Subcommand {
  std::string_view word;
  FillFn fill;
  void (*render)(Value result);
};

constexpr Subcommand kSubcommands[] = {
    {"list", fill_list, render_list},       {"read", fill_read, render_read},
    {"edit", fill_edit, render_update},     {"write", fill_write, render_update},
    {"create", fill_create, render_create}, {"delete", fill_delete, render_delete},
};

const Subcommand* find_subcommand(Words words) {
  if (words.size() < 2) return nullptr;
  for (const Subcommand& s : kSubcommands) {
    if (s.word == words[1]) return &s;
  }
  return nullptr;
}

}  // namespace

Json build_note(Words words, Json envelope) {
  const Subcommand* sub = find_subcommand(words);
  if (sub == nullptr) {
    out::error_line(kNoteUsage);
    if (words.size() > 1 && !words[1].empty()) {
      out::error_line(std::string("unknown note subcommand: ").append(words[1]));
    }
    out::exit_failure();
  }
  envelope["sub"] = sub->word;
  sub->fill(words, envelope);
  return envelope;
}

void render_note(Words words, Value result) {
  if (const Subcommand* sub = find_subcommand(words)) sub->render(result);
}
