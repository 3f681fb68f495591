// The table of welkmora-host's commands (cli/table.h) against what reads its
// words: the key names its completions offer are keys send-keys sends, and
// each command's options are read as the table says they are.

#include "cli/table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/options.h"
#include "screen/keys.h"

using namespace host;

TEST(HostTable, OfferedKeyNamesAreKeys) {
  for (std::string_view name : cli::kKeyNames) EXPECT_TRUE(parse_key(name).has_value()) << name;
}

TEST(HostTable, EachOptionIsReadAsItsRowSays) {
  for (const cli::Command* c : cli::kCommands) {
    std::set<std::string_view> flags;
    for (const cli::OptionRow& o : c->options) {
      EXPECT_TRUE(flags.insert(o.flag).second) << c->name << ": " << o.flag << " twice";
      std::vector<std::string> words = {std::string(o.flag), "value"};
      cli::OrFault<cli::Args> args = cli::Args::read(words, c->options);
      ASSERT_TRUE(args.ok()) << c->name << ' ' << o.flag;
      EXPECT_EQ(args->value(o.flag),
                o.takes_value() ? std::optional<std::string>("value") : std::optional<std::string>(""));
      EXPECT_EQ(args->operands().size(), o.takes_value() ? 0u : 1u) << c->name << ' ' << o.flag;
    }
  }
}
