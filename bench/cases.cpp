// The benchmark's replies, written by the shared JSON writer as the host
// writes them: a peer's screen of terminal text for `check` (line feeds,
// tabs, quotes and backslashes escaped, other text as raw UTF-8), and a
// canvas of agents and notes for `list`.

#include "cases.h"

#include <cstdio>

#include "json_text.h"

namespace bench {
namespace {

/// Lines of a build log, `size` bytes in all.
std::string screen_text(std::size_t size) {
  std::string text;
  text.reserve(size + 128);
  char line[160];
  for (unsigned i = 0; text.size() < size; ++i) {
    int n = std::snprintf(line, sizeof line,
                          "[%06u] ✓ compiled src/module_%02u.cpp in %u.%us — \"ok\"\tC:\\build\\step %u\n", i, i % 97,
                          i % 13, i % 10, i);
    text.append(line, static_cast<std::size_t>(n));
  }
  text.resize(size);
  return text;
}

std::string check_reply(std::size_t output_size) {
  wire::Json result = {{"awaitingInput", false}, {"output", screen_text(output_size)}, {"state", "running"}};
  return wire::to_wire({{"ok", true}, {"result", std::move(result)}}) + "\n";
}

std::string list_reply(unsigned agents, unsigned notes) {
  wire::Json agent_list = wire::Json::array(), note_list = wire::Json::array();
  char name[32];
  for (unsigned i = 0; i < agents; ++i) {
    std::snprintf(name, sizeof name, "agent-%04u", i);
    agent_list.push_back({{"name", name}, {"role", "Reviewer"}, {"state", "running"}});
  }
  for (unsigned i = 0; i < notes; ++i) {
    std::snprintf(name, sizeof name, "note-%04u", i);
    note_list.push_back({{"connected", i % 2 == 0}, {"name", name}});
  }
  wire::Json result = {{"agents", std::move(agent_list)}, {"notes", std::move(note_list)}};
  return wire::to_wire({{"ok", true}, {"result", std::move(result)}}) + "\n";
}

}  // namespace

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"check-small", {"check", "Dev"}, 500, 1.05, 1.05},
      {"check-64k", {"check", "Dev"}, 300, 1.15, 1.15},
      {"list-1000", {"list"}, 300, 1.15, 1.15},
      {"check-16m", {"check", "Dev"}, 30, 2.0, 2.5},
  };
  return all;
}

const Case* find_case(std::string_view name) {
  for (const Case& c : cases()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string reply_line(const Case& c) {
  if (c.name == "check-small") return check_reply(600);
  if (c.name == "check-64k") return check_reply(64 << 10);
  if (c.name == "check-16m") return check_reply(16 << 20);
  return list_reply(1000, 1000);
}

}  // namespace bench
