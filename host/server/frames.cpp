#include "server/frames.h"

namespace host {

std::string encode_frame(char type, std::string_view payload) {
  std::string out;
  out.reserve(payload.size() + 5);
  out.push_back(type);
  auto n = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((n >> shift) & 0xFF));
  out.append(payload);
  return out;
}

std::optional<Frame> FrameReader::next() {
  if (broken_ || buffer_.size() - read_ < 5) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 1; i <= 4; ++i) n = (n << 8) | static_cast<unsigned char>(buffer_[read_ + i]);
  if (n > kMaxFramePayload) {
    broken_ = true;
    return std::nullopt;
  }
  if (buffer_.size() - read_ - 5 < n) return std::nullopt;
  Frame frame{buffer_[read_], buffer_.substr(read_ + 5, n)};
  read_ += 5 + n;
  if (read_ * 2 >= buffer_.size()) {  // keep the buffer from growing at its front
    buffer_.erase(0, read_);
    read_ = 0;
  }
  return frame;
}

}  // namespace host
