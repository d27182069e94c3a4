// vellix: the subcommands. Each adds its own arguments and options to its CLI11 subcommand
// and gives back what runs it, with the values parsed into state of its own.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace vellix::cli {

// Runs a parsed subcommand and gives its exit code.
using Runner = std::function<int()>;
// Adds a subcommand's arguments and options; the runner reads what they parsed into.
using SetUp = Runner (*)(CLI::App& app);

Runner SetUpGet(CLI::App& app);
Runner SetUpSet(CLI::App& app);
Runner SetUpDelete(CLI::App& app);
Runner SetUpList(CLI::App& app);
Runner SetUpFind(CLI::App& app);
Runner SetUpMerge(CLI::App& app);
Runner SetUpCheck(CLI::App& app);
Runner SetUpConvert(CLI::App& app);
Runner SetUpImportJson(CLI::App& app);
Runner SetUpCsv(CLI::App& app);
Runner SetUpEdit(CLI::App& app);

// Whether a write to standard output failed (the run then ends with an I/O error).
bool OutputFailed();

}  // namespace vellix::cli
