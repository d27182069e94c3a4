// vellix: the help, the manual page and the bash completion, all made from the one table of
// subcommands and their options, so that none of them can say something the others do not.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

namespace vellix::cli {

// The help's layout: option names as they are typed (no parser internals), the type of a
// value only where one is taken.
std::shared_ptr<CLI::Formatter> HelpFormatter();

// vellix(1) in roff, from the application's subcommands, options and footers.
std::string ManPage(const CLI::App& app);

// A bash completion script for the subcommands and their options.
std::string BashCompletion(const CLI::App& app);

}  // namespace vellix::cli
