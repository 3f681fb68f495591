// Reads the command line by the catalogue's rows. Operands are taken by
// position and as typed; flags follow them in pairs of flag and value, the
// value taken as it stands even when it looks like a flag, a repeated flag
// keeping its last value. Words after those a row reads are ignored unless
// the row has flags.

#include "request.h"

#include <string>

#include "commands/note_input.h"

using catalogue::Kind;
using catalogue::Need;
using catalogue::Request;
using wire::Json;

namespace {

/// The index of the first operand word: after the command, the family's
/// subcommand and the form word.
std::size_t first_operand(const Request& row) { return 1 + (row.sub.empty() ? 0 : 1) + (row.form.empty() ? 0 : 1); }

out::Failure usage(const Request& row) { return out::failure(std::string(row.usage)); }

/// "recruit", "note read": how refusals name the row.
std::string row_words(const Request& row) {
  std::string words(row.command);
  if (!row.sub.empty()) words.append(" ").append(row.sub);
  return words;
}

/// A JSON object operand; `label` names it in the refusal.
out::Outcome<Json> parse_object(const catalogue::Operand& operand, std::string_view word, std::string_view label) {
  wire::Parsed parsed = wire::parse_json(word);
  if (!parsed.ok()) return out::failure(std::string(label) + " needs valid JSON: " + parsed.failure().text);
  if (!parsed->is_object()) {
    return out::failure(std::string(label).append(" expects a JSON object ").append(operand.example));
  }
  return std::move(*parsed);
}

/// Sets the operand's member from `word`.
out::Outcome<void> fill(const Request& row, const catalogue::Operand& operand, std::string_view word, Json& request) {
  if (!operand.none.empty() && word == operand.none) {
    request["none"] = true;
  } else if (operand.kind == Kind::kObject) {
    out::Outcome<Json> object = parse_object(operand, word, row.form.empty() ? operand.meta : row.form);
    if (!object.ok()) return object.failure();
    request[operand.member] = std::move(*object);
  } else {
    request[operand.member] = word;
  }
  return {};
}

/// An operand that was not given: piped input stands in where the row
/// allows it; a required one is the usage.
out::Outcome<void> fill_missing(const Request& row, const catalogue::Operand& operand, Json& request) {
  if (operand.need == Need::kOptional) return {};
  if (operand.need == Need::kRequired) return usage(row);
  out::Outcome<std::optional<std::string>> piped = read_stdin_content();
  if (!piped.ok()) return piped.failure();
  if (*piped) {
    request[operand.member] = std::move(**piped);
  } else if (operand.need == Need::kRequiredOrStdin) {
    return usage(row);
  }
  return {};
}

const catalogue::Flag* find_flag(const Request& row, std::string_view word) {
  for (const catalogue::Flag& flag : row.flags) {
    if (flag.used() && flag.word == word) return &flag;
  }
  return nullptr;
}

/// The flags from word `at` on, in pairs.
out::Outcome<void> fill_flags(const Request& row, Words words, std::size_t at, Json& request) {
  for (; at < words.size(); at += 2) {
    const catalogue::Flag* flag = find_flag(row, words[at]);
    if (flag == nullptr) return out::failure("unknown " + row_words(row) + " flag: " + std::string(words[at]));
    std::optional<std::string_view> value;
    if (at + 1 < words.size()) value = words[at + 1];
    if (flag->kind == Kind::kCount) {
      std::optional<std::uint64_t> number = value ? parse_usize(*value) : std::nullopt;
      if (!number) return out::failure(std::string(flag->word) + " requires a positive integer");
      request[flag->member] = *number;
    } else {
      if (!value) return out::failure(std::string(flag->word) + " requires a value");
      request[flag->member] = *value;
    }
  }
  return {};
}

}  // namespace

out::Outcome<const Request*> find_row(Words words) {
  using catalogue::From;
  std::string_view command = words.empty() ? std::string_view() : words[0];
  if (const catalogue::Family* family = catalogue::find_family(command)) {
    std::string_view sub = words.size() > 1 ? words[1] : family->fallback;
    const Request* row = sub.empty() ? nullptr : catalogue::find(From::kAgent, command, sub);
    if (row != nullptr) return row;
    out::Failure failure = out::failure(std::string(catalogue::usage(*family)));
    if (words.size() > 1 && !words[1].empty()) {
      failure.messages.push_back("unknown " + std::string(command) + " subcommand: " + std::string(words[1]));
    }
    return failure;
  }
  if (words.size() > 1 && !words[1].empty()) {
    if (const Request* row = catalogue::find(From::kAgent, command, {}, words[1])) return row;
  }
  return catalogue::find(From::kAgent, command);
}

out::Outcome<Json> build_request(const Request& row, Words words, Json envelope) {
  if (!row.sub.empty()) envelope["sub"] = row.sub;
  std::size_t at = first_operand(row);
  for (const catalogue::Operand& operand : row.operands) {
    if (!operand.used()) break;
    out::Outcome<void> filled =
        at < words.size() ? fill(row, operand, words[at], envelope) : fill_missing(row, operand, envelope);
    if (!filled.ok()) return filled.failure();
    ++at;
  }
  if (row.flags[0].used()) {
    if (out::Outcome<void> filled = fill_flags(row, words, at, envelope); !filled.ok()) return filled.failure();
  }
  return envelope;
}

Json envelope(Words words, std::string_view terminal_id, std::string_view token) {
  return {{"command", words[0]}, {"terminalId", terminal_id}, {"token", token}};
}

out::Outcome<Json> request_for(Words words, std::string_view terminal_id, std::string_view token) {
  out::Outcome<const Request*> row = find_row(words);
  if (!row.ok()) return row.failure();
  if (*row == nullptr) return out::failure("unknown command: " + std::string(words.empty() ? "" : words[0]));
  return build_request(**row, words, envelope(words, terminal_id, token));
}
