#include "Completion.hpp"

#include <CLI/CLI.hpp>

namespace qs {

namespace {

std::string shellName(std::string name) {
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

struct OptionSummary {
  std::vector<std::string> names;        // every spelling: --config, -c
  std::vector<std::string> takingValue;  // the spellings that take a value
};

OptionSummary summarise(const CLI::App& app) {
  OptionSummary s;
  for (const CLI::Option* o : app.get_options()) {
    if (!o->nonpositional() || o->get_group().empty()) continue;  // positional or hidden
    const bool value = o->get_expected_max() > 0;
    for (const auto& l : o->get_lnames()) {
      s.names.push_back("--" + l);
      if (value) s.takingValue.push_back("--" + l);
    }
    for (const auto& n : o->get_snames()) {
      s.names.push_back("-" + n);
      if (value) s.takingValue.push_back("-" + n);
    }
  }
  return s;
}

// The case arms that complete the value after one of `opts`.
void valueArms(std::string& out, const std::string& label, const OptionSummary& opts,
               const CompletionWords& words) {
  for (const auto& name : opts.takingValue) {
    out += "    " + label + ":" + name + ")\n";
    if (auto it = words.find(name); it != words.end()) {
      // Lists separated by commas complete their last element.
      out += "      _qel_screen_words \"" + joined(it->second) + "\"\n";
    } else {
      out += "      COMPREPLY=($(compgen -f -- \"$cur\"))\n";
    }
    out += "      return ;;\n";
  }
}

}  // namespace

std::string bashCompletion(const CLI::App& app, const CompletionWords& words) {
  const std::string program = app.get_name();
  const std::string fn = "_" + shellName(program);
  const auto subcommands = app.get_subcommands([](const CLI::App*) { return true; });

  std::vector<std::string> subNames;
  for (const CLI::App* sub : subcommands) subNames.push_back(sub->get_name());

  std::string out;
  out += "# bash completion for " + program + "; written by `" + program +
         " --bash-completion` from the program's own options.\n\n";
  out += "_qel_screen_words() {\n";
  out += "  local head=\"\" last=\"$cur\"\n";
  out += "  if [[ $cur == *,* ]]; then head=\"${cur%,*},\"; last=\"${cur##*,}\"; fi\n";
  out += "  local IFS=$'\\n'\n";
  out += "  COMPREPLY=($(IFS=' ' compgen -P \"$head\" -W \"$1\" -- \"$last\"))\n";
  out += "  compopt -o nospace 2>/dev/null\n";
  out += "  [[ ${#COMPREPLY[@]} -eq 1 ]] && compopt +o nospace 2>/dev/null\n";
  out += "  return 0\n";
  out += "}\n\n";
  out += fn + "() {\n";
  out += "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n";
  out += "  local sub=\"\" i\n";
  out += "  for ((i = 1; i < COMP_CWORD; i++)); do\n";
  out += "    case ${COMP_WORDS[i]} in\n";
  out += "      " + [&] {
    std::string alts;
    for (const auto& n : subNames) alts += (alts.empty() ? "" : "|") + n;
    return alts;
  }() + ") sub=${COMP_WORDS[i]}; break ;;\n";
  out += "    esac\n";
  out += "  done\n";

  const OptionSummary top = summarise(app);
  out += "  case \"$sub:$prev\" in\n";
  valueArms(out, "", top, words);
  for (const CLI::App* sub : subcommands) valueArms(out, sub->get_name(), summarise(*sub), words);
  out += "  esac\n";

  out += "  if [[ $cur == -* ]]; then\n";
  out += "    case $sub in\n";
  out += "      \"\") COMPREPLY=($(compgen -W \"" + joined(top.names) + "\" -- \"$cur\")) ;;\n";
  for (const CLI::App* sub : subcommands)
    out += "      " + sub->get_name() + ") COMPREPLY=($(compgen -W \"" +
           joined(summarise(*sub).names) + "\" -- \"$cur\")) ;;\n";
  out += "    esac\n";
  out += "    return 0\n";
  out += "  fi\n";
  out += "  if [[ -z $sub ]]; then\n";
  out += "    COMPREPLY=($(compgen -W \"" + joined(subNames) + "\" -- \"$cur\"))\n";
  out += "    return 0\n";
  out += "  fi\n";
  out += "  COMPREPLY=($(compgen -f -- \"$cur\"))\n";
  out += "}\n";
  out += "complete -o filenames -F " + fn + " " + program + "\n";
  return out;
}

}  // namespace qs
