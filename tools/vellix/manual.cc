// vellix: the help's layout, the manual page and the bash completion.
#include "manual.h"

#include <sstream>
#include <vector>

namespace vellix::cli {

namespace {

// Every name of an option as typed: "-z, --null", "--compressed, --no-compressed".
std::string Names(const CLI::Option& option) {
  std::string names;
  for (const std::string& s : option.get_snames()) names += (names.empty() ? "-" : ", -") + s;
  for (const std::string& l : option.get_lnames()) names += (names.empty() ? "--" : ", --") + l;
  return names;
}

// A value an option takes: its type name ("FILE", "first|last"), empty for a flag.
std::string ValueOf(const CLI::Option& option) {
  if (option.get_expected_max() == 0) return "";
  // The type name without the checks' own descriptions (":{a,b}").
  const std::string type = option.get_type_name();
  return type.empty() ? "VALUE" : type.substr(0, type.find(':'));
}

class Formatter final : public CLI::Formatter {
 public:
  std::string make_option_name(const CLI::Option* option, bool positional) const override {
    return positional ? option->get_name(true) : Names(*option);
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_positional()) return "";
    const std::string value = ValueOf(*option);
    return value.empty() ? "" : " " + value;
  }
};

std::vector<const CLI::App*> SubcommandsOf(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

std::vector<const CLI::Option*> Shown(const CLI::App& sub, bool positional) {
  return sub.get_options([positional](const CLI::Option* o) {
    return !o->get_group().empty() && o->get_positional() == positional &&
           o->get_lnames().size() + o->get_snames().size() + (positional ? 1 : 0) > 0;
  });
}

// Text for roff: a backslash doubled, a leading dot or quote kept from being a request.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

}  // namespace

std::shared_ptr<CLI::Formatter> HelpFormatter() { return std::make_shared<Formatter>(); }

std::string ManPage(const CLI::App& app) {
  std::ostringstream out;
  out << ".TH VELLIX 1 \"\" \"vellix 1.0\" \"User Commands\"\n"
      << ".SH NAME\nvellix \\- " << Roff(app.get_description().substr(8)) << "\n"
      << ".SH SYNOPSIS\n.B vellix\n.I SUBCOMMAND\n[\\fIOPTIONS\\fR] \\fIFILE\\fR ...\n"
      << ".br\n.B vellix help\n[\\fISUBCOMMAND\\fR]\n"
      << ".SH DESCRIPTION\n"
      << Roff(app.get_footer()) << "\n"
      << ".SH SUBCOMMANDS\n";
  for (const CLI::App* sub : SubcommandsOf(app)) {
    out << ".SS " << sub->get_name();
    for (const CLI::Option* o : Shown(*sub, true)) {
      out << " " << (o->get_required() ? "" : "[") << o->get_name(true)
          << (o->get_items_expected_max() > 1 && o->get_type_size() < 3 ? "..." : "")
          << (o->get_required() ? "" : "]");
    }
    out << "\n" << Roff(sub->get_description()) << ".\n";
    for (const CLI::Option* o : Shown(*sub, true)) {
      out << ".TP\n.I " << o->get_name(true) << "\n" << Roff(o->get_description()) << "\n";
    }
    for (const CLI::Option* o : Shown(*sub, false)) {
      const std::string value = ValueOf(*o);
      out << ".TP\n.B " << Roff(Names(*o)) << (value.empty() ? "" : " \\fI" + Roff(value) + "\\fR")
          << "\n"
          << Roff(o->get_description()) << "\n";
    }
    out << ".PP\n.nf\n" << Roff(sub->get_footer()) << "\n.fi\n";
  }
  out << ".SH EXIT STATUS\n"
         ".TP\n0\nok\n.TP\n1\nnot found: the file, group, item, or no match\n"
         ".TP\n2\nusage: a bad command line, an empty key file, settings that cannot hold "
         "the document\n"
         ".TP\n3\nthe file cannot be parsed or decoded, or reading it lost a line a write "
         "would drop\n"
         ".TP\n4\nI/O: a file cannot be read or written, or another writer holds it too long\n"
         ".SH ENVIRONMENT\n"
         ".TP\nVELLIX_KEY, VELLIX_OUT_KEY\nthe key of an enciphered file (input, output)\n"
         ".TP\nVISUAL, EDITOR\nthe editor of vellix edit\n"
         ".SH SEE ALSO\nThe full guide is docs/cli.md in the Vellix sources.\n";
  return out.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::ostringstream out;
  out << "# bash completion for vellix (made by vellix --bash-completion)\n"
         "_vellix() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} sub=${COMP_WORDS[1]}\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W 'help";
  for (const CLI::App* sub : SubcommandsOf(app)) out << " " << sub->get_name();
  out << " --help --version' -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  local options\n"
         "  case $sub in\n";
  for (const CLI::App* sub : SubcommandsOf(app)) {
    out << "    " << sub->get_name() << ") options='";
    for (const CLI::Option* o : Shown(*sub, false)) {
      for (const std::string& s : o->get_snames()) out << "-" << s << " ";
      for (const std::string& l : o->get_lnames()) out << "--" << l << " ";
    }
    out << "' ;;\n";
  }
  out << "    help) COMPREPLY=($(compgen -W '";
  bool first = true;
  for (const CLI::App* sub : SubcommandsOf(app)) {
    out << (first ? "" : " ") << sub->get_name();
    first = false;
  }
  out << "' -- \"$cur\")); return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -F _vellix vellix\n";
  return out.str();
}

}  // namespace vellix::cli
