// `welkmora-host ls [--json]`: every terminal and note of the running host,
// as a table for the person or as the host's JSON object.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/host_link.h"
#include "loop/log.h"

namespace host::cli {
namespace {

using wire::Json;

std::string text(const Json& object, const char* key, const char* absent = "-") {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? escape_controls(it->get<std::string>()) : absent;
}

std::string joined(const Json& list) {
  std::string out;
  if (list.is_array()) {
    for (const Json& name : list) {
      if (!out.empty()) out += ", ";
      out += name.is_string() ? escape_controls(name.get<std::string>()) : "?";
    }
  }
  return out.empty() ? "-" : out;
}

/// Rows of cells, printed in columns two spaces apart.
std::string table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> width;
  for (const auto& row : rows) {
    width.resize(std::max(width.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

std::string state_text(const Json& terminal) {
  std::string state = text(terminal, "state", "?");
  auto code = terminal.find("exitCode");
  if (code != terminal.end() && code->is_number_integer()) state += " (" + std::to_string(code->get<int>()) + ")";
  return state;
}

std::string listing(const Json& result) {
  std::vector<std::vector<std::string>> terminals{{"TERMINAL", "STATE", "ROLE", "TURN", "ROPES"}};
  for (const Json& t : result.value("terminals", Json::array())) {
    terminals.push_back({text(t, "name", "?"), state_text(t), text(t, "role"), t.value("busy", false) ? "busy" : "idle",
                         joined(t.value("ropes", Json::array()))});
  }
  std::vector<std::vector<std::string>> notes{{"NOTE", "BYTES", "ROPES"}};
  for (const Json& n : result.value("notes", Json::array())) {
    auto bytes = n.find("bytes");
    notes.push_back(
        {text(n, "name", "?"), bytes != n.end() ? bytes->dump() : "?", joined(n.value("ropes", Json::array()))});
  }
  return table(terminals) + (notes.size() > 1 ? "\n" + table(notes) : "");
}

}  // namespace

OrFault<int> run_ls(const Args& args) {
  if (OrFault<void> checked = require_operands(args, 0, 0, ""); !checked.ok()) return checked.failure();
  OrFault<Json> result = person_request(socket_of(args), {{"command", "ls"}});
  if (!result.ok()) return result.failure();
  std::string out = args.has("--json") ? wire::to_wire(*result) + "\n" : listing(*result);
  std::fputs(out.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace host::cli
