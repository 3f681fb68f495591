#include "web/gate.h"

#include <arpa/inet.h>

#include <charconv>

#include "base/token.h"

namespace host {

std::string WebAddress::authority() const {
  std::string host = v6 ? "[" + ip + "]" : ip;
  return host + ":" + std::to_string(port);
}

bool WebAddress::loopback() const {
  if (v6) return ip == "::1";
  in_addr a{};
  return ::inet_pton(AF_INET, ip.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

wire::Status parse_web_address(std::string_view text, WebAddress& out) {
  auto bad = [&] {
    return wire::Error("--web needs [ADDR:]PORT, such as 8080, 127.0.0.1:0 or [::1]:8080, not " + std::string(text));
  };
  WebAddress parsed;
  std::string_view port = text;
  if (std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    port = text.substr(colon + 1);
    parsed.v6 = host.starts_with('[') && host.ends_with(']');
    if (parsed.v6) host = host.substr(1, host.size() - 2);
    parsed.ip = std::string(host);
    unsigned char raw[sizeof(in6_addr)];
    if (::inet_pton(parsed.v6 ? AF_INET6 : AF_INET, parsed.ip.c_str(), raw) != 1) return bad();
  }
  unsigned value = 0;
  auto [end, err] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || err != std::errc() || end != port.data() + port.size() || value > 65535) return bad();
  parsed.port = static_cast<std::uint16_t>(value);
  out = std::move(parsed);
  return {};
}

Gate::Gate(WebAddress served, std::string key) : served_(std::move(served)), key_(std::move(key)) {}

bool Gate::key_ok(std::string_view candidate) const { return same_token(key_, candidate); }

bool Gate::protocols_ok(std::string_view protocols) const {
  constexpr std::string_view kPrefix = "welkmora-key.";
  bool found = false;
  while (!protocols.empty()) {
    std::size_t comma = protocols.find(',');
    std::string_view one = protocols.substr(0, comma);
    protocols = comma == std::string_view::npos ? std::string_view() : protocols.substr(comma + 1);
    while (one.starts_with(' ')) one.remove_prefix(1);
    while (one.ends_with(' ')) one.remove_suffix(1);
    if (one.starts_with(kPrefix)) found = found | key_ok(one.substr(kPrefix.size()));
  }
  return found;
}

}  // namespace host
