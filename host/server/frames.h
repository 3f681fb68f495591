#pragma once
// The framing of an attach connection once its request is accepted. After
// the reply line, both sides send frames: one type byte, the payload's
// length as four bytes (big-endian), then the payload. Frames keep raw
// terminal bytes (which need not be UTF-8) apart from control messages.
//
//   host -> person   'o' output bytes to show as they are
//                    's' the exit code of the terminal's program, as "N",
//                        before the end when the program ended
//                    'x' the end, with the line to print ("[Dev exited with status 0]")
//   person -> host   'i' input bytes to type
//                    'r' the window size, as "ROWS COLS"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

struct Frame {
  char type = 0;
  std::string payload;
};

inline constexpr char kOutputFrame = 'o', kStatusFrame = 's', kEndFrame = 'x', kInputFrame = 'i', kResizeFrame = 'r';

/// The longest payload a frame may carry.
inline constexpr std::size_t kMaxFramePayload = 1 << 20;

/// The frame's bytes on the wire.
std::string encode_frame(char type, std::string_view payload);

/// Collects bytes as they arrive and hands out whole frames.
class FrameReader {
 public:
  void append(std::string_view bytes) { buffer_.append(bytes); }
  /// The next whole frame, if one has arrived. Sets broken() instead when
  /// the length is over kMaxFramePayload.
  std::optional<Frame> next();
  bool broken() const { return broken_; }

 private:
  std::string buffer_;
  std::size_t read_ = 0;
  bool broken_ = false;
};

}  // namespace host
