// The bash completion script of a CLI11 command line, written from the
// application's own subcommands and options so that it never lags behind them.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qs {

// Words an option's value can take, by long option name ("--format").
// An option listed here with a comma delimiter completes each list element.
using CompletionWords = std::map<std::string, std::vector<std::string>>;

// A bash script that defines the completion of `app`: subcommand names,
// each subcommand's options, the given words for option values, file names
// for every other value and for positional arguments.
std::string bashCompletion(const CLI::App& app, const CompletionWords& words);

}  // namespace qs
