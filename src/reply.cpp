#include "reply.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "utf8.h"

namespace reply {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighs = 0x8080808080808080;

/// Bytes of `word` below `n` (n <= 128) marked by their top bit. Only the
/// lowest mark is exact; a borrow can mark bytes above it.
constexpr std::uint64_t below(std::uint64_t word, unsigned char n) { return (word - kOnes * n) & ~word & kHighs; }

/// Bytes of `word` equal to `c`, marked as below() marks them.
constexpr std::uint64_t equal(std::uint64_t word, char c) {
  return below(word ^ (kOnes * static_cast<unsigned char>(c)), 1);
}

std::uint64_t load(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

/// Index of the first byte in text[i, end) that a string's scan must stop
/// at: a quote, a backslash, a control character or a byte that is not
/// ASCII; `end` when none.
std::size_t string_stop(const char* text, std::size_t i, std::size_t end) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= end; i += 8) {
      std::uint64_t word = load(text + i);
      std::uint64_t marks = equal(word, '"') | equal(word, '\\') | below(word, 0x20) | (word & kHighs);
      if (marks != 0) return i + static_cast<std::size_t>(std::countr_zero(marks)) / 8;
    }
  }
  for (; i < end; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
  }
  return i;
}

/// The four hexadecimal digits at text[i, i + 4) as a number, or -1.
long hex4(std::string_view text, std::size_t i) {
  if (text.size() < 4 || i > text.size() - 4) return -1;
  long value = 0;
  for (std::size_t k = i; k < i + 4; ++k) {
    char c = text[k];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool is_high_surrogate(long cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool is_low_surrogate(long cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }

/// The escape sequence at text[i] (a backslash): its length, or 0 when it is
/// none the parser takes. A high surrogate must be followed by a low one.
std::size_t escape_length(std::string_view text, std::size_t i) {
  if (i + 1 >= text.size()) return 0;
  switch (text[i + 1]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't': return 2;
    case 'u': break;
    default: return 0;
  }
  long cp = hex4(text, i + 2);
  if (is_high_surrogate(cp)) {
    bool paired = i + 7 < text.size() && text[i + 6] == '\\' && text[i + 7] == 'u';
    return paired && is_low_surrogate(hex4(text, i + 8)) ? 12 : 0;
  }
  return cp < 0 || is_low_surrogate(cp) ? 0 : 6;
}

/// The character a one-letter escape stands for.
char unescaped(char letter) {
  switch (letter) {
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return letter;  // a quote, backslash or slash
  }
}

/// Writes the character of the escape at text[i] (which the index checked)
/// to `out`; returns the index after the escape.
std::size_t unescape(std::string_view text, std::size_t i, char*& out) {
  if (text[i + 1] != 'u') {
    *out++ = unescaped(text[i + 1]);
    return i + 2;
  }
  long cp = hex4(text, i + 2);
  std::size_t after = i + 6;
  if (is_high_surrogate(cp)) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4(text, i + 8) - 0xDC00);
    after = i + 12;
  }
  out += utf8::encode_utf8(static_cast<char32_t>(cp), out);
  return after;
}

/// Decodes the escaped string text[0, size) in place; returns its new length.
std::size_t decode(char* text, std::size_t size) {
  char* out = text;
  std::size_t i = 0;
  while (i < size) {
    // Copy up to the next backslash, eight bytes at a time while there is
    // none: a whole word may be stored, since `out` never passes `i`.
    if constexpr (std::endian::native == std::endian::little) {
      for (std::uint64_t word; i + 8 <= size && equal(word = load(text + i), '\\') == 0; i += 8, out += 8) {
        std::memcpy(out, &word, sizeof word);
      }
    }
    for (; i < size && text[i] != '\\'; ++i) *out++ = text[i];
    if (i < size) i = unescape(std::string_view(text, size), i, out);
  }
  return static_cast<std::size_t>(out - text);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

/// The first pass: checks the line against the grammar and the parser's
/// limits, building the document's nodes on the way, without recursion.
class Indexer {
 public:
  explicit Indexer(Document& doc) : text_(doc.line_.view()), nodes_(doc.nodes_) {}

  /// True when the whole line is one value with white space around it.
  bool run() {
    skip_space();
    for (;;) {
      switch (value()) {
        case Step::failed: return false;
        case Step::opened: continue;
        case Step::complete: break;
      }
      switch (after_value()) {
        case Step::failed: return false;
        case Step::opened: continue;
        case Step::complete: skip_space(); return pos_ == text_.size();
      }
    }
  }

  bool saw_escapes() const { return escapes_; }

 private:
  /// What a step left: a syntax error, a container whose next element
  /// (after its key, in an object) comes next, or a complete value.
  enum class Step { failed, opened, complete };

  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void skip_space() {
    while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
  }
  bool take(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    skip_space();
    return true;
  }
  void add(std::size_t at, std::size_t size) { nodes_.push_back({at, size}); }
  static Step complete_if(bool ok) { return ok ? Step::complete : Step::failed; }

  /// The value at pos_; a container that is not empty is only opened.
  Step value() {
    switch (peek()) {
      case '{':
      case '[': return open();
      case '"': return complete_if(string());
      case 't': return complete_if(literal("true"));
      case 'f': return complete_if(literal("false"));
      case 'n': return complete_if(literal("null"));
      default: return complete_if(number());
    }
  }

  /// After a value: closes the containers it ends, up to one with a next
  /// element; complete once the outermost value has ended.
  Step after_value() {
    for (;;) {
      skip_space();
      if (depth_ == 0) return Step::complete;
      bool in_object = text_[nodes_[open_[depth_ - 1]].at] == '{';
      if (take(',')) return !in_object || key() ? Step::opened : Step::failed;
      if (!take(in_object ? '}' : ']')) return Step::failed;
      close();
    }
  }

  Step open() {
    if (depth_ == wire::kMaxDepth) return Step::failed;
    bool object = peek() == '{';
    open_[depth_++] = nodes_.size();
    add(pos_, 0);
    take(peek());
    if (take(object ? '}' : ']')) {
      close();
      return Step::complete;
    }
    return !object || key() ? Step::opened : Step::failed;
  }

  void close() { nodes_[open_[--depth_]].size = nodes_.size(); }

  bool key() { return peek() == '"' && string() && (skip_space(), take(':')); }

  /// A string: no control characters, escapes the parser takes, UTF-8.
  bool string() {
    std::size_t begin = pos_ + 1, i = begin;
    for (;;) {
      i = string_stop(text_.data(), i, text_.size());
      if (i == text_.size()) return false;
      auto c = static_cast<unsigned char>(text_[i]);
      if (c == '"') break;
      std::size_t length = c >= 0x80 ? utf8::utf8_sequence_length(text_, i) : c == '\\' ? escape_length(text_, i) : 0;
      if (length == 0) return false;
      escapes_ = escapes_ || c == '\\';
      i += length;
    }
    add(pos_, i - begin);
    pos_ = i + 1;
    return true;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    add(pos_, word.size());
    pos_ += word.size();
    return true;
  }

  /// A number as the grammar has it, which the parser must also take as a
  /// finite double: an integer of up to 18 digits (19 when not negative)
  /// always is; anything longer, with a fraction or an exponent, is asked.
  bool number() {
    std::size_t begin = pos_;
    bool negative = peek() == '-';
    if (negative) ++pos_;
    if (!is_digit(peek())) return false;
    if (text_[pos_] == '0')
      ++pos_;
    else
      digits();
    std::size_t integer_digits = pos_ - begin - negative;
    bool integer = true;
    if (peek() == '.') {
      integer = false;
      ++pos_;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      integer = false;
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!digits()) return false;
    }
    add(begin, pos_ - begin);
    if (integer && integer_digits <= (negative ? 18u : 19u)) return true;
    return std::isfinite(std::strtod(std::string(text_.substr(begin, pos_ - begin)).c_str(), nullptr));
  }

  bool digits() {
    std::size_t begin = pos_;
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    return pos_ > begin;
  }

  std::string_view text_;
  std::vector<Document::Node>& nodes_;
  std::size_t pos_ = 0;
  bool escapes_ = false;
  std::size_t open_[wire::kMaxDepth];
  std::size_t depth_ = 0;
};

std::optional<Document> Document::index(std::string_view line) {
  Document doc{wire::Buffer(line)};
  if (!doc.build()) return std::nullopt;
  return doc;
}

bool Document::build() {
  // About one node per eight bytes covers most replies; pages never
  // written are not taken from the system.
  nodes_.reserve(line_.size() / 8 + 4);
  Indexer indexer(*this);
  if (!indexer.run()) return false;
  if (indexer.saw_escapes()) decode_strings();
  return true;
}

void Document::decode_strings() {
  for (Node& node : nodes_) {
    if (line_.data()[node.at] != '"') continue;
    char* text = line_.data() + node.at + 1;
    if (std::memchr(text, '\\', node.size) != nullptr) node.size = decode(text, node.size);
  }
}

std::size_t Document::after(std::size_t i) const {
  char lead = line_.data()[nodes_[i].at];
  return lead == '{' || lead == '[' ? nodes_[i].size : i + 1;
}

char Value::lead() const { return doc_ == nullptr ? 'n' : doc_->line_.data()[doc_->nodes_[index_].at]; }

std::string_view Value::text() const {
  if (!is_string()) return {};
  const Document::Node& node = doc_->nodes_[index_];
  return doc_->line_.view().substr(node.at + 1, node.size);
}

std::optional<Value> Value::find(std::string_view key) const {
  if (!is_object()) return std::nullopt;
  std::optional<Value> found;
  for (std::size_t i = index_ + 1, end = doc_->nodes_[index_].size; i < end; i = doc_->after(i + 1)) {
    if (Value(doc_, i).text() == key) found = Value(doc_, i + 1);
  }
  return found;
}

Elements Value::elements() const {
  if (!is_array()) return Elements(nullptr, 0, 0);
  return Elements(doc_, index_ + 1, doc_->nodes_[index_].size);
}

Elements::Iterator& Elements::Iterator::operator++() {
  index_ = doc_->after(index_);
  return *this;
}

Reading read(wire::Buffer line) {
  Document doc(std::move(line));
  if (doc.build()) return doc;
  // The index refused the line, which is left as it came: the UTF-8 check
  // and the parser word the error. Were the parser to take the line all the
  // same (the fuzz target holds the two together), its value is read in its
  // own plain writing.
  if (!utf8::is_valid_utf8(doc.line_.view())) return std::string("stream did not contain valid UTF-8");
  wire::Parsed parsed = wire::parse_json(doc.line_.view());
  if (!parsed.ok()) return "bad response: " + parsed.failure().text;
  std::optional<Document> plain = Document::index(wire::to_wire(*parsed));
  if (!plain) return std::string("bad response: unreadable reply");
  return std::move(*plain);
}

wire::Json to_json(Value value) {
  if (value.doc_ == nullptr) return nullptr;
  const Document& doc = *value.doc_;
  const Document::Node& node = doc.nodes_[value.index_];
  if (value.is_string()) return std::string(value.text());
  if (value.is_array()) {
    wire::Json array = wire::Json::array();
    for (Value element : value.elements()) array.push_back(to_json(element));
    return array;
  }
  if (value.is_object()) {
    wire::Json object = wire::Json::object();
    for (std::size_t i = value.index_ + 1; i < node.size; i = doc.after(i + 1)) {
      object[std::string(Value(&doc, i).text())] = to_json(Value(&doc, i + 1));
    }
    return object;
  }
  // Literals and numbers as the parser reads their text.
  return wire::Json::parse(doc.line_.view().substr(node.at, node.size));
}

}  // namespace reply
