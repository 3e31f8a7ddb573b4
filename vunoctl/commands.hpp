// The command line: nouns and verbs, each verb one storage method whose
// arguments it gathers from positional words and options.
#pragma once

#include "methods.hpp"

#include <CLI/CLI.hpp>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vunoctl {

// What the command line asks for.
struct Invocation {
    // A watch subscribes with `method` and `arguments`, then waits for
    // events; anything else is one call.
    bool watch = false;
    std::string method;
    std::vector<ArgumentTexts> arguments;
    // One item was asked for: show all its entries.
    bool details = false;
    bool json = false;
    std::optional<std::chrono::microseconds> timeout;
};

// One argument of a verb, in the order of the method's signature.
struct Param {
    enum class Kind {
        Positional, // one word
        Rest,       // every remaining word: an array argument
        Option,     // --name VALUE, with a fallback when not given
        Flag,       // --name: true when given
        Scope,      // no option for the whole host, --id or --controller ... for one item
        PresenceOf, // true when the argument `source` was given
    };
    Kind kind;
    std::string name;
    std::string help;
    std::string fallback;
    // The daemon's words; input matches them in any case, with dashes for
    // blanks.
    std::vector<std::string> choices;
    bool required = true;
    size_t source = 0;
};

struct Verb {
    std::string noun;
    std::string verb;
    std::string method;
    std::string help;
    std::vector<Param> params;
};

// Every verb of every noun.
const std::vector<Verb> &Verbs();

class CommandLine {
  public:
    CommandLine();
    // Throws CLI::ParseError or UsageError.
    Invocation Parse(int argc, const char *const *argv);
    CLI::App &App() { return app_; }

  private:
    // What the words and options of one parameter gave.
    struct Value {
        std::string text;
        std::vector<std::string> items;
        std::string scopeType = "Global";
        bool given = false;
        bool ownId = false;
    };

    void AddVerb(CLI::App &noun, const Verb &verb);
    void AddParam(CLI::App &command, const Param &param, Value &value);
    void AddScope(CLI::App &command, const Param &param, Value &value);
    void AddWatch(CLI::App &noun);
    void AddCall();
    void Finish(const Verb &verb, const std::deque<Value> &values);

    CLI::App app_;
    std::deque<std::deque<Value>> values_;
    std::optional<Invocation> invocation_;
    std::string callMethod_;
    std::vector<std::string> callWords_;
    bool json_ = false;
    double timeoutSeconds_ = 0;
};

} // namespace vunoctl
