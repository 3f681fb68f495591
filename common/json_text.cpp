#include "json_text.h"

#include <string_view>

namespace wire {
namespace {

/// Line and column, as the error texts show them, of the position just after
/// the first `consumed` bytes of `text`.
std::string position_text(std::string_view text, std::size_t consumed) {
  if (consumed > text.size()) consumed = text.size();
  std::size_t line = 1, column = 0;
  for (std::size_t i = 0; i < consumed; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 0;
    } else {
      ++column;
    }
  }
  return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

/// Index of the first bracket that opens a container on the level past
/// kMaxDepth, or text.size() when there is none.
std::size_t too_deep_bracket(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return i;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    }
  }
  return text.size();
}

/// Turns the library's description of a syntax error into the short problem
/// statement of the error texts.
std::string problem_text(const std::string& what) {
  // The library's message reads "[json.exception...] parse error at line L,
  // column C: <detail>"; the position is recomputed by the caller.
  std::string detail = what;
  if (auto colon = what.find(": "); colon != std::string::npos) detail = what.substr(colon + 2);
  if (detail.find("; expected end of input") != std::string::npos) return "trailing characters";
  if (detail.find("missing closing quote") != std::string::npos &&
      detail.find("unexpected end of input") == std::string::npos) {
    return "EOF while parsing a string";
  }
  if (detail.find("unexpected end of input") != std::string::npos) {
    if (detail.rfind("syntax error while parsing object", 0) == 0) return "EOF while parsing an object";
    if (detail.rfind("syntax error while parsing array", 0) == 0) return "EOF while parsing a list";
    return "EOF while parsing a value";
  }
  return detail;
}

/// Builds the document like the library's own DOM parser, but refuses
/// nesting past kMaxDepth and keeps the position of the first error.
class LimitedDomParser : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  explicit LimitedDomParser(Json& root) : json_sax_dom_parser(root, false) {}

  bool start_object(std::size_t len) {
    if (++depth_ > kMaxDepth) return too_deep();
    return json_sax_dom_parser::start_object(len);
  }
  bool end_object() {
    --depth_;
    return json_sax_dom_parser::end_object();
  }
  bool start_array(std::size_t len) {
    if (++depth_ > kMaxDepth) return too_deep();
    return json_sax_dom_parser::start_array(len);
  }
  bool end_array() {
    --depth_;
    return json_sax_dom_parser::end_array();
  }
  bool parse_error(std::size_t position, const std::string& /*token*/, const nlohmann::detail::exception& ex) {
    position_ = position;
    problem_ = ex.id == 406 ? "number out of range" : problem_text(ex.what());
    return false;
  }

  bool too_deep_seen() const { return too_deep_; }
  std::size_t position() const { return position_; }
  const std::string& problem() const { return problem_; }

 private:
  bool too_deep() {
    too_deep_ = true;
    return false;
  }

  std::size_t depth_ = 0;
  bool too_deep_ = false;
  std::size_t position_ = 0;
  std::string problem_;
};

}  // namespace

Result parse_json(std::string_view text) {
  Json root;
  LimitedDomParser sax(root);
  bool parsed = false;
  try {
    parsed = Json::sax_parse(text.begin(), text.end(), &sax, nlohmann::detail::input_format_t::json, true);
  } catch (const nlohmann::json::exception& ex) {
    // Size limits the library checks by throwing; no position is known.
    return Result::failure(std::string(ex.what()) + position_text(text, text.size()));
  }
  if (parsed) return Result::success(std::move(root));
  if (sax.too_deep_seen()) {
    return Result::failure("recursion limit exceeded" + position_text(text, too_deep_bracket(text) + 1));
  }
  return Result::failure(sax.problem() + position_text(text, sax.position()));
}

std::string to_wire(const Json& value) { return value.dump(); }

}  // namespace wire
