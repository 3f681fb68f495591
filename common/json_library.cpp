// nlohmann's internals, kept in this one file. Its public parse() either
// throws with no way to stop at our nesting limit, or, with a SAX handler,
// leaves building the document to us; the handler that builds it as parse()
// does, detail::json_sax_dom_parser, is internal, and so is the wording of
// its errors, which reaches us only as exception texts. Both change between
// releases: CMakeLists.txt asks for the 3.11 releases this was checked
// against, and the parser tests pin the wording.

#include "json_library.h"

namespace wire::library {
namespace {

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
/// nesting past kMaxDepth and more values than it is given, and keeps the
/// position of the first error.
class LimitedDomParser : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  using Base = nlohmann::detail::json_sax_dom_parser<Json>;

  LimitedDomParser(Json& root, Run& outcome, std::size_t max_values)
      : json_sax_dom_parser(root, false), outcome_(outcome), left_(max_values) {}

  // Each value and member name counts, before anything is built for it.
  bool null() { return one_more() && Base::null(); }
  bool boolean(bool v) { return one_more() && Base::boolean(v); }
  bool number_integer(Json::number_integer_t v) { return one_more() && Base::number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return one_more() && Base::number_unsigned(v); }
  bool number_float(Json::number_float_t v, const std::string& s) { return one_more() && Base::number_float(v, s); }
  bool string(std::string& v) { return one_more() && Base::string(v); }
  bool binary(Json::binary_t& v) { return one_more() && Base::binary(v); }
  bool key(std::string& v) { return one_more() && Base::key(v); }

  bool start_object(std::size_t len) {
    if (!one_more()) return false;
    if (++depth_ > kMaxDepth) return too_deep();
    return json_sax_dom_parser::start_object(len);
  }
  bool end_object() {
    --depth_;
    return json_sax_dom_parser::end_object();
  }
  bool start_array(std::size_t len) {
    if (!one_more()) return false;
    if (++depth_ > kMaxDepth) return too_deep();
    return json_sax_dom_parser::start_array(len);
  }
  bool end_array() {
    --depth_;
    return json_sax_dom_parser::end_array();
  }
  bool parse_error(std::size_t position, const std::string& /*token*/, const nlohmann::detail::exception& ex) {
    outcome_.position = position;
    outcome_.problem = ex.id == 406 ? "number out of range" : problem_text(ex.what());
    return false;
  }

 private:
  bool too_deep() {
    outcome_.too_deep = true;
    return false;
  }
  bool one_more() {
    if (left_ == 0) {
      outcome_.too_many = true;
      return false;
    }
    --left_;
    return true;
  }

  Run& outcome_;
  std::size_t depth_ = 0;
  std::size_t left_;
};

}  // namespace

Run parse(std::string_view text, Json& root, std::size_t max_values) {
  Run outcome;
  LimitedDomParser sax(root, outcome, max_values);
  try {
    outcome.parsed = Json::sax_parse(text.begin(), text.end(), &sax, nlohmann::detail::input_format_t::json, true);
  } catch (const nlohmann::json::exception& ex) {
    // Size limits the library checks by throwing; no position is known.
    outcome.problem = ex.what();
    outcome.position = text.size();
  }
  return outcome;
}

}  // namespace wire::library
