// The command lines of the tools: a table of options, each with whether it takes a value and
// the step that takes it into the parse, walked by one loop.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

// One option: its spelling, whether the next argument is its value, and the step that takes
// the value (empty for an option without one) into the parse state. The step returns nullptr
// when it took the value, else what was expected instead.
template <typename TState> struct TOptionRule {
    const char* Name;
    bool TakesValue;
    const char* (*Apply)(const std::string& value, TState& state);
};

// Walks the arguments through the rules. An argument no rule names goes to `other`, which
// returns false with `error` set when it refuses it. False with `error` set for a missing or
// bad value.
template <typename TState, typename TOther>
bool ApplyOptionTable(std::span<const TOptionRule<TState>> rules,
                      const std::vector<std::string>& args, TState& state, std::string& error,
                      TOther other) {
    static const std::string NoValue;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto rule = std::find_if(rules.begin(), rules.end(),
                                       [&](const TOptionRule<TState>& r) { return arg == r.Name; });
        if (rule == rules.end()) {
            if (!other(arg, error)) {
                return false;
            }
            continue;
        }
        if (rule->TakesValue && i + 1 >= args.size()) {
            error = "option " + arg + " needs a value";
            return false;
        }
        const std::string& value = rule->TakesValue ? args[++i] : NoValue;
        if (const char* expected = rule->Apply(value, state)) {
            error = "bad value '";
            error.append(value).append("' for ").append(arg).append(": ").append(expected);
            return false;
        }
    }
    return true;
}
