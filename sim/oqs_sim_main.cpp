// oqs_sim: a quote server for trying and testing quote clients, on the loopback interface
// unless --bind names another address. It answers logins, the symbol list and registrations,
// streams synthetic quotes for every registered symbol, or replays a capture of
// quote_recorder, and can misbehave on purpose (see --help).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "sim/quote_stream.h"
#include "sim/replay_source.h"
#include "sim/sim_options.h"

namespace {

void print_line(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::string describe(const sim::sim_options& o, const sim::replay_source* replay) {
    char number[32];
    std::string text;
    if (replay != nullptr) {
        std::snprintf(number, sizeof number, "%g", o.replay_speed);
        text = "replaying " + o.replay + " (" + std::to_string(replay->quote_count()) +
               " quotes, " + std::to_string(replay->instruments().size()) + " symbols) at " +
               (o.replay_speed > 0 ? std::string("speed ") + number : "full speed") +
               (o.replay_loop ? " in a loop" : "");
    } else {
        std::snprintf(number, sizeof number, "%g", o.rate);
        text = std::string("rate ") + number + "/s per symbol";
    }
    text += ", users:";
    for (const auto& user : sim::effective_users(o)) text += " " + user.first;
    if (o.refuse_login) text += ", --refuse-login";
    if (o.no_list_end) text += ", --no-list-end";
    if (o.drop_after_seconds > 0) {
        char after[32];
        std::snprintf(after, sizeof after, "%g", o.drop_after_seconds);
        text += std::string(", --drop-after ") + after;
    }
    if (o.split) text += ", --split";
    if (o.garbage_every > 0) text += ", --garbage-every " + std::to_string(o.garbage_every);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        std::printf("oqs_sim %s\n", ORVQUOTE_VERSION);
        return 0;
    }
    const sim::parsed_options parsed = sim::parse_sim_options(args);
    if (parsed.options.help) {
        std::fputs(sim::sim_usage("oqs_sim").c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "oqs_sim: %s\nTry 'oqs_sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    // Before the server's threads start, which inherit it.
    platform::catch_stop_requests();

    std::unique_ptr<sim::replay_source> replay;
    if (!parsed.options.replay.empty()) {
        std::string error, warning;
        replay = sim::replay_source::open(
            {parsed.options.replay, parsed.options.replay_speed, parsed.options.replay_loop}, error,
            warning);
        if (!replay) {
            std::fprintf(stderr, "oqs_sim: %s\n", error.c_str());
            return 1;
        }
        if (!warning.empty()) std::fprintf(stderr, "oqs_sim: warning: %s\n", warning.c_str());
    }
    const std::string description = describe(parsed.options, replay.get());
    sim::quote_stream stream(parsed.options, print_line, std::move(replay));
    if (!stream.listening()) {
        std::fprintf(stderr,
                     "oqs_sim: cannot listen on %s:%u (is the port in use, or the address not one "
                     "of this machine's?)\n",
                     parsed.options.bind.c_str(), static_cast<unsigned>(parsed.options.port));
        return 1;
    }
    std::fprintf(stderr, "oqs_sim: listening on %s:%u (%s); Ctrl-C stops\n",
                 parsed.options.bind.c_str(), static_cast<unsigned>(stream.port()),
                 description.c_str());
    platform::wait_for_stop_request();
    stream.stop();
    std::fprintf(stderr, "oqs_sim: stopped, %llu quotes sent\n",
                 static_cast<unsigned long long>(stream.quotes_sent()));
    return 0;
}
