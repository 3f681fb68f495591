// `ask`: a prompt typed into one peer (`target`, `prompt`) or into several at
// once (`batch`, names to prompts), answered once the turns have ended.

#include <chrono>
#include <cstdio>
#include <memory>

#include "loop/log.h"
#include "model/refusal.h"
#include "protocol/handlers.h"
#include "protocol/members.h"

namespace host {
namespace {

/// The answer members of a reply or a batch entry.
void add_answer(Json& into, const TurnAnswer& answer) {
  into["output"] = answer.output;
  into["awaitingInput"] = answer.awaiting_input;
}

/// The reply to a batch, sent once every entry is filled in.
struct BatchReply {
  Responder respond;
  /// One entry per batch member, in the batch's key order.
  Json results = Json::array();
  /// Entries still waiting, plus one while the batch is being started.
  std::size_t open = 1;

  void one_done() {
    if (--open == 0) respond(ok_reply({{"results", std::move(results)}}));
  }
};

/// Why a turn ended, as the activity log says it.
const char* end_word(const AskOutcome& outcome) {
  if (!outcome.error.empty()) return "failed";
  return outcome.answer.awaiting_input ? "input" : "answered";
}

/// "1.234s".
std::string seconds_text(Clock::duration d) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  char out[32];
  std::snprintf(out, sizeof out, "%lld.%03llds", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return out;
}

/// Asks::start, with the turn's start and end in the activity log.
void start_turn(Context& ctx, const Call& call, const std::string& name, std::string_view prompt, Asks::Done done) {
  Clock::time_point started = Clock::now();
  ctx.asks.start(name, prompt, [done = std::move(done), name, by = call.caller, started](AskOutcome outcome) {
    log_event(
        "answer",
        {{"name", name}, {"by", by}, {"duration", seconds_text(Clock::now() - started)}, {"end", end_word(outcome)}});
    done(std::move(outcome));
  });
  log_event("ask", {{"name", name}, {"by", call.caller}});
}

void ask_one(Context& ctx, const Call& call, const Responder& respond) {
  const std::string& target = members::text(call.request, "target");
  const std::string& prompt = members::text(call.request, "prompt");
  ctx.canvas.peer(call.caller, target);
  start_turn(ctx, call, target, prompt, [respond](AskOutcome outcome) {
    if (!outcome.error.empty()) return respond(error_reply(outcome.error));
    Json result = Json::object();
    add_answer(result, outcome.answer);
    respond(ok_reply(std::move(result)));
  });
}

/// Starts the turn of one batch entry; a refusal fills the entry at once.
void start_entry(Context& ctx, const Call& call, const std::shared_ptr<BatchReply>& reply, const std::string& name,
                 const Json& prompt) {
  std::size_t slot = reply->results.size();
  reply->results.push_back({{"name", name}});
  try {
    if (!prompt.is_string()) throw Refusal("prompt must be a string: " + name);
    ctx.canvas.peer(call.caller, name);
    start_turn(ctx, call, name, prompt.get_ref<const std::string&>(), [reply, slot](AskOutcome outcome) {
      Json& entry = reply->results[slot];
      if (outcome.error.empty()) {
        add_answer(entry, outcome.answer);
      } else {
        entry["error"] = outcome.error;
      }
      reply->one_done();
    });
    ++reply->open;  // start() never answers before it returns
  } catch (const Refusal& refusal) {
    reply->results[slot]["error"] = refusal.text();
  }
}

void ask_batch(Context& ctx, const Call& call, const Json& batch, const Responder& respond) {
  auto reply = std::make_shared<BatchReply>();
  reply->respond = respond;
  for (const auto& [name, prompt] : batch.items()) start_entry(ctx, call, reply, name, prompt);
  reply->one_done();
}

}  // namespace

void handle_ask(Context& ctx, const Call& call, const Responder& respond) {
  if (members::has(call.request, "batch")) {
    ask_batch(ctx, call, members::object(call.request, "batch"), respond);
  } else {
    ask_one(ctx, call, respond);
  }
}

}  // namespace host
