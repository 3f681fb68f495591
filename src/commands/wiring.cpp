// `connect`, `dismiss` and `recruit`: shaping the group on the canvas.

#include <string>

#include "commands.h"
#include "output.h"
#include "reply_fields.h"

namespace {

/// A `recruit` flag and the request member its value goes into.
struct RecruitFlag {
  std::string_view word;
  const char* member;
};

constexpr RecruitFlag kRecruitFlags[] = {{"--role", "role"}, {"--preset", "preset"}, {"--command", "cmd"}};

const RecruitFlag* find_recruit_flag(std::string_view word) {
  for (const RecruitFlag& f : kRecruitFlags) {
    if (f.word == word) return &f;
  }
  return nullptr;
}

}  // namespace

Json build_connect(Words words, Json envelope) {
  if (words.size() < 3) out::fail("usage: welkmora connect \"From\" \"To\"");
  envelope["from"] = words[1];
  envelope["to"] = words[2];
  return envelope;
}

void render_connect(Words words, Value) {
  std::string line = "Verbunden: ";
  line.append(words[1]).append(" <-> ").append(words[2]).push_back('\n');
  out::write(line);
}

Json build_dismiss(Words words, Json envelope) {
  if (words.size() < 2) out::fail("usage: welkmora dismiss \"Name\"");
  envelope["name"] = words[1];
  return envelope;
}

void render_dismiss(Words, Value result) { fields::print_named("Entlassen: ", result); }

Json build_recruit(Words words, Json envelope) {
  if (words.size() < 2) out::fail("usage: welkmora recruit \"Codename\" [--role \"Role\"] [--command \"cmd\"]");
  envelope["name"] = words[1];
  // Word 1 is the codename whatever it looks like; flags come in pairs from
  // word 2 on, and a value is taken as it stands, even one that looks like a
  // flag. A repeated flag keeps its last value.
  for (std::size_t i = 2; i < words.size(); i += 2) {
    const RecruitFlag* flag = find_recruit_flag(words[i]);
    if (flag == nullptr) out::fail(std::string("unknown recruit flag: ").append(words[i]));
    if (i + 1 == words.size()) out::fail(std::string(flag->word).append(" requires a value"));
    envelope[flag->member] = words[i + 1];
  }
  return envelope;
}

void render_recruit(Words, Value result) { fields::print_named("Recruit gespawnt: ", result); }
