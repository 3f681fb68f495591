#pragma once
// Who may use the canvas page: the rules every HTTP request and WebSocket of
// the web server passes before anything else. The page acts for the person
// with the person's rights, so its WebSocket opens only with a key printed
// at the start, and only under the address it is served at: a Host header
// naming anything else (DNS rebinding) or a WebSocket from another origin
// is refused. The key is never something a browser sends by itself: the
// address to open carries it after "#", which stays in the browser, and the
// page presents it as a WebSocket subprotocol, so no other server on the
// machine, on any port, is ever sent it. The page's files carry no data
// and are served without it.

#include <cstdint>
#include <string>
#include <string_view>

#include "status.h"

namespace host {

/// Where the canvas is served.
struct WebAddress {
  /// The numeric address, as inet_pton reads it ("127.0.0.1", "::1").
  std::string ip = "127.0.0.1";
  bool v6 = false;
  /// 0 until bound: the kernel picks a port.
  std::uint16_t port = 0;

  /// "127.0.0.1:8080" or "[::1]:8080": what the Host header must say.
  std::string authority() const;
  /// "http://" + authority(): what a WebSocket's Origin must say.
  std::string origin() const { return "http://" + authority(); }
  /// True for 127.0.0.0/8 and ::1.
  bool loopback() const;
};

/// Reads "[ADDR:]PORT" (ADDR a numeric IPv4 address or an IPv6 address in
/// brackets, 127.0.0.1 when absent; PORT 0 to 65535, 0 for any free one).
wire::Status parse_web_address(std::string_view text, WebAddress& out);

class Gate {
 public:
  /// `served` has its real port; `key` is the secret printed at the start.
  Gate(WebAddress served, std::string key);

  const WebAddress& served() const { return served_; }
  const std::string& key() const { return key_; }

  bool host_ok(std::string_view host_header) const { return host_header == served_.authority(); }
  bool origin_ok(std::string_view origin) const { return origin == served_.origin(); }
  /// Compared in time that does not depend on where a wrong key differs.
  bool key_ok(std::string_view candidate) const;
  /// True when the Sec-WebSocket-Protocol header offers the key, as
  /// "welkmora-key.KEY" beside the page's protocol.
  bool protocols_ok(std::string_view protocols) const;

 private:
  WebAddress served_;
  std::string key_;
};

}  // namespace host
