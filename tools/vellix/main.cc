// vellix: look inside, change, check and convert the files the Vellix object writes.
//
//   vellix SUBCOMMAND [OPTIONS] FILE ...       (vellix --help, vellix SUBCOMMAND --help)
//
// Exit codes: 0 ok, 1 not found, 2 usage, 3 the file cannot be parsed or decoded, 4 I/O.
// Errors are one line on standard error: "vellix: FILE: reason".
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "io/system.h"
#include "manual.h"
#include "tool.h"

namespace vellix::cli {

namespace {

// The subcommands: each entry's SetUp adds its own arguments and options.
struct Subcommand {
  const char* name;
  const char* help;
  const char* examples;
  SetUp setUp;
};

const std::vector<Subcommand>& Subcommands() {
  static const std::vector<Subcommand> list = {
      {"get", "Print a value, the items of a group, or every group",
       "  vellix get save.ini player gold            the value, or exit 1 when absent\n"
       "  vellix get save.ini player --format=json   the group as a JSON object\n"
       "  vellix get save.dat --compressed --key-file key.txt --format=ini",
       &SetUpGet},
      {"set", "Set an item to a value (creating the file, the group or the item)",
       "  vellix set save.ini player gold 120\n"
       "  VELLIX_KEY=secret vellix set save.dat player gold 120 --compressed --backup",
       &SetUpSet},
      {"del", "Delete an item, or a whole group",
       "  vellix del save.ini player gold\n"
       "  vellix del save.ini cheats",
       &SetUpDelete},
      {"list", "List the group names, or the item names of a group",
       "  vellix list save.ini\n"
       "  vellix list save.ini player",
       &SetUpList},
      {"find", "Search with wildcard patterns: * any run, . any byte, a leading ! negates",
       "  vellix find save.ini '*' 'score*' '*'        every item whose name starts with score\n"
       "  vellix find save.ini 'level.*' '*' '*' --groups-only\n"
       "  Exit 1 when nothing matches.",
       &SetUpFind},
      {"merge", "Merge the items of OTHER (read with the same settings) into FILE",
       "  vellix merge save.ini defaults.ini              new items only\n"
       "  vellix merge save.ini patch.ini --overwrite\n"
       "  vellix merge save.ini other.ini --group player hero",
       &SetUpMerge},
      {"check", "Read files whole with the given settings and report groups, items, bytes",
       "  vellix check --compressed --key-file key.txt saves/*.dat\n"
       "  Exit 0 when every file reads whole; otherwise the first failure's code\n"
       "  (1 not found, 3 cannot be decoded, 4 cannot be read), with the reason.",
       &SetUpCheck},
      {"convert", "Write IN to OUT under other settings (the out- options)",
       "  vellix convert save.dat save.ini --compressed --key-file key.txt     unpack\n"
       "  vellix convert save.ini save.dat --out-compressed --out-key-file key.txt   pack\n"
       "  vellix convert old.ini new.ini --out-newline lf --out-escape-values\n"
       "  The output keeps the input's text format, plain unless --out-compressed or\n"
       "  --out-key-file (or VELLIX_OUT_KEY) say otherwise.",
       &SetUpConvert},
      {"import-json", "Set the groups and items of a JSON document into FILE",
       "  vellix get save.ini --format=json > save.json\n"
       "  vellix import-json copy.ini save.json --replace     the same bytes as save.ini\n"
       "  vellix import-json save.ini player.json --group player",
       &SetUpImportJson},
      {"csv", "Export FILE as CSV, or import a CSV into FILE, in the object's two layouts",
       "  vellix csv export save.ini scores.csv --group scores   one group: name,value,...\n"
       "  vellix csv export save.ini all.csv                     a line per group\n"
       "  vellix csv export save.ini table.csv --table --sep ';' a column per item name\n"
       "  vellix csv import save.ini table.csv --table\n"
       "  MODE is export or import. Nothing is quoted or escaped; lines end in CR LF.",
       &SetUpCsv},
      {"edit", "Edit FILE in $VISUAL or $EDITOR, deciphered and decompressed for the while",
       "  vellix edit save.dat --compressed --key-file key.txt\n"
       "  The plain text is a file only you may read, in a private folder, removed when the\n"
       "  edit ends. FILE is written back, atomically, only when the text changed and reads\n"
       "  back whole.",
       &SetUpEdit},
  };
  return list;
}

// The number of single-byte edits between two words.
size_t Distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A word where the subcommand goes that names none: the nearest subcommand, if one is near.
std::string Unknown(std::string_view word) {
  std::string message = "vellix: no subcommand \"" + std::string(word) + "\"";
  const Subcommand* nearest = nullptr;
  size_t best = 3;  // more edits than two is no misspelling
  for (const Subcommand& s : Subcommands()) {
    const size_t d = Distance(word, s.name);
    if (d < best) {
      best = d;
      nearest = &s;
    }
  }
  if (nearest != nullptr) message += std::string(" (did you mean ") + nearest->name + "?)";
  return message + "; vellix help lists them";
}

bool Known(std::string_view word) {
  return std::any_of(Subcommands().begin(), Subcommands().end(),
                     [&](const Subcommand& s) { return word == s.name; });
}

int Run(int argc, char** argv) {
  CLI::App app{"vellix: look inside, change, check and convert the files of the Vellix object.",
               "vellix"};
  app.set_version_flag("--version", "vellix 1.0");
  app.formatter(HelpFormatter());
  app.footer(
      "The key of an enciphered file never goes on the command line: --key-file FILE or the\n"
      "environment variable VELLIX_KEY. FILE - is standard input (and output where a\n"
      "command writes FILE).\n"
      "Exit codes: 0 ok, 1 not found, 2 usage, 3 cannot be parsed or decoded, 4 I/O.\n"
      "vellix SUBCOMMAND --help shows each one's options and examples.");
  Runner run;
  for (const Subcommand& s : Subcommands()) {
    CLI::App* sub = app.add_subcommand(s.name, s.help);
    sub->footer(std::string("Examples:\n") + s.examples);
    Runner runner = s.setUp(*sub);
    sub->callback([&run, runner] { run = runner; });
  }
  // The manual page and the bash completion are made from this same table at build time,
  // so neither can drift from --help.
  bool man = false;
  bool completion = false;
  app.add_flag("--man-page", man)->group("");
  app.add_flag("--bash-completion", completion)->group("");
  app.require_subcommand(0, 1);

  if (argc >= 2 && argv[1][0] != '-') {
    const std::string word = argv[1];
    if (word == "help") {
      CLI::App* sub = argc >= 3 && Known(argv[2]) ? app.get_subcommand(argv[2]) : nullptr;
      if (argc >= 3 && sub == nullptr) {
        std::cerr << Unknown(argv[2]) << std::endl;
        return kUsage;
      }
      std::cout << (sub != nullptr ? sub->help() : app.help());
      return kOk;
    }
    if (!Known(word)) {
      std::cerr << Unknown(word) << std::endl;
      return kUsage;
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::string why = e.what();
    for (char& c : why) {
      if (c == '\n') c = ' ';
    }
    std::cerr << "vellix: " << why << " (vellix --help shows the usage)" << std::endl;
    return kUsage;
  }
  if (man) {
    std::cout << ManPage(app);
    return kOk;
  }
  if (completion) {
    std::cout << BashCompletion(app);
    return kOk;
  }
  if (!run) {
    std::cerr << "vellix: a subcommand is required (vellix help lists them)" << std::endl;
    return kUsage;
  }
  const int status = run();
  if (OutputFailed() || std::fflush(stdout) != 0) {
    throw Failure(kIoError, "-", "standard output cannot be written");
  }
  return status;
}

}  // namespace

}  // namespace vellix::cli

int main(int argc, char** argv) {
  // Files and transcripts on standard output stay byte for byte.
  vellix::UseBinaryStandardStreams();
  try {
    return vellix::cli::Run(argc, argv);
  } catch (const vellix::cli::Failure& failure) {
    std::cerr << "vellix: " << failure.file << ": " << failure.what() << std::endl;
    return failure.code;
  } catch (const std::bad_alloc&) {
    std::cerr << "vellix: out of memory" << std::endl;
    return vellix::cli::kIoError;
  } catch (const std::exception& e) {
    // Whatever else ends the run (a library's error) is an I/O-class failure with its
    // reason, never an abort.
    std::cerr << "vellix: " << e.what() << std::endl;
    return vellix::cli::kIoError;
  }
}
