// The activity log of a real host: one line per event, and the sender's
// process named where a claim cannot be proved.

#include <gtest/gtest.h>

#include "files.h"
#include "host_process.h"

using namespace harness;

TEST(HostActivityLog, OneLinePerEvent) {
  HostProcess host;
  std::string log = host.dir() + "/activity.log";
  host.start({"--log", log, "--settle", "300ms"});
  Env boss = host.join("Boss");
  host.recruit(boss, "Dev", "exec " + std::string(WELKMORA_DEMO_AGENT), {});
  host.check_until(boss, "Dev", "demo>");
  host.client(boss, {"ask", "Dev", "hi"});
  host.client({{"WELKMORA_SOCKET", host.socket_path()}, {"WELKMORA_TERMINAL_ID", "Boss"}, {"WELKMORA_TOKEN", "x"}},
              {"list"});
  host.recruit(boss, "Fail", "echo the disk is full; exit 3", {});
  wait_for(log, " exit name=Fail");
  host.client(boss, {"dismiss", "Dev"});
  std::string text = wait_for(log, "dismiss");
  for (std::string line : {" join name=Boss pid=", " recruit name=Dev by=Boss command=", " ask name=Dev by=Boss\n",
                           " answer name=Dev by=Boss duration=", " claimed=Boss command=list reason=\"unknown",
                           " dismiss name=Dev by=Boss\n", " exit name=Fail status=3 said=\"the disk is full\"\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  // A wrong token proves nothing: the log names the sender's process, not
  // the terminal it claimed to be.
  EXPECT_EQ(text.find(" refused by=Boss"), std::string::npos) << text;
  EXPECT_NE(text.find(" refused pid="), std::string::npos) << text;
  EXPECT_EQ(text.find("listening"), std::string::npos) << "the log holds events only";
  EXPECT_EQ(host.error_output().find(" join "), std::string::npos);
}
