#pragma once
// Launch presets: named commands a recruit can be started from. The host
// offers a "Shell" preset (the user's login shell) and adds or overrides
// presets from an optional JSON file: an array of objects with a string
// `name`, an optional string `command` and an optional string `resume`. Reading that file is the store
// layer's (store/presets_file.h); this is what its text means.

#include <string>
#include <string_view>
#include <vector>

#include "outcome.h"
#include "status.h"

namespace host {

struct Preset {
  std::string name;
  /// A shell command line; empty starts the user's shell.
  std::string command;
  /// What runs instead of `command` when a terminal started from this
  /// preset is resumed after a restart (an agent's "continue the last
  /// conversation"); empty: `command` again.
  std::string resume = {};
};

/// The built-in presets.
std::vector<Preset> default_presets();

/// The built-in presets, then those of `text`, the presets file at `path`
/// (a preset of the same name replaces the earlier one), or the failure
/// with a message naming `path` when the text has another shape.
wire::Fallible<std::vector<Preset>> parse_presets(std::string_view text, const std::string& path);

}  // namespace host
