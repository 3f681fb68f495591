#pragma once
// The one exchange with the app: connect to its Unix socket, send the request
// as one line of compact JSON, read one line back and parse it.

#include <string_view>

#include "json_text.h"
#include "reply.h"

/// Sends `envelope` to the app listening at `socket_path` and returns its
/// parsed reply, whatever JSON type it has, or the error text of the first
/// step that failed. When the app answers and closes before it has read the
/// whole request (one it refuses as too large), its reply line is returned,
/// not the failed send. Prints nothing, retries nothing, waits without
/// limit.
reply::Reading request(std::string_view socket_path, const wire::Json& envelope);
