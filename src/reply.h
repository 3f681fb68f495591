#pragma once
// The app's reply as the client reads it. One pass checks the line against
// the JSON grammar, UTF-8 and the parser's limits and indexes its values; a
// second decodes, in place, the strings that hold escapes. Strings stay in
// the line, so a reply costs about two passes over its bytes and little
// memory besides, however long its strings are. Whatever the index refuses
// goes to the UTF-8 check and the shared parser (json_text.h), which word
// the error; on every line the two take the same value
// (fuzz/reply_reader_fuzz.cpp holds them to it).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io.h"
#include "json_text.h"

namespace reply {

class Document;
class Elements;
class Value;

/// A reply line read: its document, or the error text.
using Reading = outcome::Outcome<Document, std::string>;

/// Reads a reply line: the index where it takes the line, else the error
/// text: "stream did not contain valid UTF-8", or "bad response: " and the
/// parser's description.
Reading read(wire::Buffer line);

/// `value` as the shared parser's type, for comparing the two readers.
wire::Json to_json(Value value);

/// One value of a Document, read-only and cheap to copy. It lives as long
/// as its document. A default Value is null, as is a reply's missing
/// `result`.
class Value {
 public:
  Value() = default;

  bool is_null() const { return lead() == 'n'; }
  bool is_boolean() const { return lead() == 't' || lead() == 'f'; }
  bool is_string() const { return lead() == '"'; }
  bool is_array() const { return lead() == '['; }
  bool is_object() const { return lead() == '{'; }
  /// True for the boolean true only.
  bool is_true() const { return lead() == 't'; }

  /// A string's text, escapes decoded; empty for any other value.
  std::string_view text() const;
  /// An object's member `key` (the last one when the key repeats); nullopt
  /// when there is none or the value is no object.
  std::optional<Value> find(std::string_view key) const;
  /// An array's elements in order; none for any other value.
  Elements elements() const;

 private:
  friend class Document;
  friend class Elements;
  friend wire::Json to_json(Value value);
  Value(const Document* doc, std::size_t index) : doc_(doc), index_(index) {}
  /// The first byte of the value's JSON text, which tells its type.
  char lead() const;

  const Document* doc_ = nullptr;
  std::size_t index_ = 0;
};

/// The elements of an array, for range-for.
class Elements {
 public:
  class Iterator {
   public:
    Value operator*() const { return Value(doc_, index_); }
    Iterator& operator++();
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    friend class Elements;
    Iterator(const Document* doc, std::size_t index) : doc_(doc), index_(index) {}
    const Document* doc_;
    std::size_t index_;
  };

  Iterator begin() const { return Iterator(doc_, first_); }
  Iterator end() const { return Iterator(doc_, end_); }
  bool empty() const { return first_ == end_; }

 private:
  friend class Value;

  /// A reply line read: its document, or the error text.
  using Reading = outcome::Outcome<Document, std::string>;
  Elements(const Document* doc, std::size_t first, std::size_t end) : doc_(doc), first_(first), end_(end) {}
  const Document* doc_;
  std::size_t first_, end_;
};

/// A reply line with the index of its values. Moving it is fine until the
/// first Value is taken from it.
class Document {
 public:
  /// Indexes a copy of `line` and decodes its strings; nullopt when the
  /// index refuses the line, as the UTF-8 check or the parser then does.
  static std::optional<Document> index(std::string_view line);

  /// The outermost value.
  Value root() const { return Value(this, 0); }

 private:
  friend class Value;

  /// A reply line read: its document, or the error text.
  using Reading = outcome::Outcome<Document, std::string>;
  friend class Elements;
  friend class Indexer;
  friend Reading read(wire::Buffer line);
  friend wire::Json to_json(Value value);

  /// One value. `at` is where its text starts in the line (a string's at
  /// its opening quote, its decoded text right after it). `size` is a
  /// string's or a number's length, and for an array or object the index
  /// of the node after its last descendant. An object's children are its
  /// keys and values, alternating.
  struct Node {
    std::size_t at;
    std::size_t size;
  };

  explicit Document(wire::Buffer line) : line_(std::move(line)) {}
  /// Indexes line_ and decodes its strings; false (with line_ unchanged)
  /// when the index refuses it.
  bool build();
  /// The index of the node after `i` and its descendants.
  std::size_t after(std::size_t i) const;
  void decode_strings();

  wire::Buffer line_;
  std::vector<Node> nodes_;
};

}  // namespace reply
