#include "console/lead.h"

#include "base/token.h"

namespace host {

OrRefusal<std::string> start_lead(Canvas& canvas, TerminalSet& terminals, const LeadSetup& setup) {
  std::string name = canvas.free_terminal_name("Lead");
  wire::Fallible<std::string> made = new_token();
  if (!made.ok()) return refuse(made.failure().text);
  std::string token = std::move(*made);
  Launch launch;
  launch.argv = {setup.shell};
  launch.unset = {"WELKMORA_ROLE", "WELKMORA_ROLE_PROMPT", "LINES", "COLUMNS"};
  launch.env = {{"WELKMORA_SOCKET", setup.socket_path}, {"WELKMORA_TERMINAL_ID", name}, {"WELKMORA_TOKEN", token}};
  launch.rows = setup.rows;
  launch.cols = setup.cols;
  launch.screen = setup.screen;
  if (OrRefusal<Terminal*> started = terminals.start(name, launch); !started.ok()) return started.failure();
  canvas.add_terminal({name, token, false, "", true, Recipe{"", "", ""}});
  return name;
}

}  // namespace host
