// `ask`: a prompt typed into one peer (`target`, `prompt`) or into several at
// once (`batch`, names to prompts), answered once the turns have ended. When
// the asker goes away first, its turns are cancelled.

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "loop/log.h"
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

/// Cancels the turns of `tickets`.
Cancel cancel_turns(Asks& asks, std::vector<TurnTicket> tickets) {
  return [&asks, tickets = std::move(tickets)] {
    for (const TurnTicket& ticket : tickets) asks.cancel(ticket);
  };
}

/// "1.234s".
std::string seconds_text(Clock::duration d) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  char out[32];
  std::snprintf(out, sizeof out, "%lld.%03llds", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return out;
}

/// Asks::start, with the turn's start and end (how long, and why it ended)
/// in the activity log.
OrRefusal<TurnTicket> start_turn(Context& ctx, const Call& call, const std::string& name, std::string_view prompt,
                                 Asks::Done done) {
  OrRefusal<TurnTicket> ticket =
      ctx.asks.start(name, prompt, [done = std::move(done), name, by = call.caller](AskOutcome outcome) {
        std::string took = seconds_text(outcome.took);
        if (outcome.status < 0) {
          log_event("answer", {{"name", name}, {"by", by}, {"duration", took}, {"end", outcome.reason}});
        } else {
          log_event("answer", {{"name", name},
                               {"by", by},
                               {"duration", took},
                               {"end", outcome.reason},
                               {"status", std::to_string(outcome.status)}});
        }
        done(std::move(outcome));
      });
  if (ticket.ok()) log_event("ask", {{"name", name}, {"by", call.caller}});
  return ticket;
}

OrRefusal<Cancel> ask_one(Context& ctx, const Call& call, const Responder& respond) {
  members::Reader in(call.request);
  const std::string& target = in.text("target");
  const std::string& prompt = in.text("prompt");
  if (in.refused()) return *in.refused();
  if (auto peer = ctx.canvas.peer(call.caller, target); !peer.ok()) return peer.failure();
  OrRefusal<TurnTicket> ticket = start_turn(ctx, call, target, prompt, [respond](AskOutcome outcome) {
    if (!outcome.error.empty()) return respond(error_reply(outcome.error));
    Json result = Json::object();
    add_answer(result, outcome.answer);
    respond(ok_reply(std::move(result)));
  });
  if (!ticket.ok()) return ticket.failure();
  return cancel_turns(ctx.asks, {std::move(*ticket)});
}

/// Starts the turn of one batch entry; a refusal fills the entry at once.
std::optional<TurnTicket> start_entry(Context& ctx, const Call& call, const std::shared_ptr<BatchReply>& reply,
                                      const std::string& name, const Json& prompt) {
  std::size_t slot = reply->results.size();
  reply->results.push_back({{"name", name}});
  auto refused = [&](const Refusal& refusal) {
    reply->results[slot]["error"] = refusal.text;
    return std::nullopt;
  };
  if (!prompt.is_string()) return refused(refuse("prompt must be a string: " + name));
  if (auto peer = ctx.canvas.peer(call.caller, name); !peer.ok()) return refused(peer.failure());
  OrRefusal<TurnTicket> ticket =
      start_turn(ctx, call, name, prompt.get_ref<const std::string&>(), [reply, slot](AskOutcome outcome) {
        Json& entry = reply->results[slot];
        if (outcome.error.empty()) {
          add_answer(entry, outcome.answer);
        } else {
          entry["error"] = outcome.error;
        }
        reply->one_done();
      });
  if (!ticket.ok()) return refused(ticket.failure());
  ++reply->open;  // start() never answers before it returns
  return std::move(*ticket);
}

Cancel ask_batch(Context& ctx, const Call& call, const Json& batch, const Responder& respond) {
  auto reply = std::make_shared<BatchReply>();
  reply->respond = respond;
  std::vector<TurnTicket> tickets;
  for (const auto& [name, prompt] : batch.items()) {
    if (auto ticket = start_entry(ctx, call, reply, name, prompt)) tickets.push_back(std::move(*ticket));
  }
  reply->one_done();
  return cancel_turns(ctx.asks, std::move(tickets));
}

}  // namespace

OrRefusal<Cancel> handle_ask(Context& ctx, const Call& call, const Responder& respond) {
  members::Reader in(call.request);
  if (!in.has("batch")) return ask_one(ctx, call, respond);
  const Json& batch = in.object("batch");
  if (in.refused()) return *in.refused();
  return ask_batch(ctx, call, batch, respond);
}

}  // namespace host
