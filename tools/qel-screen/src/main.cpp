// qel-screen: shows what a screening plug-in decides for the SCCP traffic of
// captures, message by message and in total.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <tuple>

#include "Completion.hpp"
#include "ConfigCheck.hpp"
#include "OneLine.hpp"
#include "PluginHost.hpp"
#include "Run.hpp"

#ifndef QEL_VERSION
#define QEL_VERSION "0.0.0"
#endif

namespace {

// What a command printed must have reached its output (a full disk, a closed
// pipe): otherwise exit 2 with the reason, whatever the command's own status.
int finish(int status) {
  std::cout.flush();
  errno = 0;
  bool flushed = std::fflush(stdout) == 0;
  if (!flushed || std::ferror(stdout) || !std::cout) {
    // The reason is known only when this flush is the write that failed.
    if (!flushed && errno)
      fmt::print(stderr, "qel-screen: error writing the output: {}\n", std::strerror(errno));
    else
      fmt::print(stderr, "qel-screen: error writing the output\n");
    return 2;
  }
  return status;
}

// --only VERDICT[,VERDICT...], repeatable: the names of every occurrence.
std::vector<std::string> splitCommas(const std::vector<std::string>& values) {
  std::vector<std::string> names;
  for (const auto& v : values) {
    std::size_t from = 0;
    for (;;) {
      std::size_t comma = v.find(',', from);
      names.push_back(
          v.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Screens the SCCP messages of captures with an SCCP screening plug-in, decodes "
      "them, or checks a configuration before it goes live.",
      "qel-screen"};
  app.set_version_flag("--version",
                       [] { return qs::versionText(QEL_VERSION, qs::defaultPluginPath()); });
  app.require_subcommand(1);

  // Options that screen, decode and diff share.
  std::string colour = "auto";
  auto addInputOptions = [&](CLI::App* cmd, qs::RunOptions& o) {
    cmd->add_flag("--hex", o.hex,
                  "Read inputs that are not pcap or pcapng as hex text (also any *.hex file)");
    cmd->add_option("--color", colour,
                    "Colour the verdicts: auto (a terminal, NO_COLOR unset "
                    "or empty), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    cmd->add_option("--threads", o.threads,
                    "Threads that decode and screen (default: one per core); 1 does all the "
                    "work on one thread. The output is the same whatever the number")
        ->check(CLI::Range(1u, 1024u));
  };
  auto addSummaryOptions = [&](CLI::App* cmd, qs::RunOptions& o, std::string& summary) {
    cmd->add_option("--summary", summary, "Summary format on standard error")
        ->check(CLI::IsMember({"text", "json"}))
        ->capture_default_str();
    cmd->add_option("--summary-file", o.summaryFile, "Write the summary to FILE instead");
    cmd->add_option("--prefix-digits", o.prefixDigits,
                    "Digits of the calling GT counted as its prefix in the summary")
        ->check(CLI::Range(1, 15))
        ->capture_default_str();
  };

  // The home network (screen and diff), one value per occurrence like --only.
  std::vector<std::string> homePc, homeIp, homeGt;
  auto addHomeOptions = [&](CLI::App* cmd) {
    for (auto [name, values, help] :
         {std::tuple{"--home-pc", &homePc,
                     "Inbound when the destination point code is one of these (decimal or "
                     "3-8-3); comma-separated, repeatable"},
          std::tuple{"--home-ip", &homeIp,
                     "Inbound when the destination IP address is in one of these (ADDR[/BITS]); "
                     "comma-separated, repeatable"},
          std::tuple{"--home-gt", &homeGt,
                     "Inbound when the called global title begins with one of these digit "
                     "prefixes; comma-separated, repeatable"}})
      cmd->add_option(name, *values, help)
          ->expected(1)
          ->allow_extra_args(false)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  auto parseHome = [&](qs::HomeNetwork& home) {
    std::string bad;
    if (!home.addPointCodes(splitCommas(homePc), bad)) {
      fmt::print(stderr,
                 "qel-screen: --home-pc: \"{}\" is not a point code (a decimal integer or "
                 "ITU 3-8-3 such as 2-100-3)\n",
                 qs::oneLine(bad));
      return false;
    }
    if (!home.addIpPrefixes(splitCommas(homeIp), bad)) {
      fmt::print(stderr,
                 "qel-screen: --home-ip: \"{}\" is not an IPv4 or IPv6 address or prefix "
                 "(ADDR[/BITS])\n",
                 qs::oneLine(bad));
      return false;
    }
    if (!home.addGlobalTitles(splitCommas(homeGt), bad)) {
      fmt::print(stderr, "qel-screen: --home-gt: \"{}\" is not a digit prefix\n", qs::oneLine(bad));
      return false;
    }
    return true;
  };

  qs::RunOptions screenOptions;
  std::string format = "text";
  std::string screenSummary = "text";
  std::vector<std::string> only;
  auto* screen = app.add_subcommand("screen", "Screen every SCCP message of the captures");
  screen->add_option("--config", screenOptions.config, "Configuration file ([sccp-screening])")
      ->required();
  screen->add_option("--plugin", screenOptions.plugin,
                     "Plug-in library (default: ../lib/qel-screening-sccp.so next to the tool)");
  screen->add_option("--format", format, "Output format")
      ->check(CLI::IsMember({"text", "jsonl"}))
      ->capture_default_str();
  screen->add_flag("--explain", screenOptions.explain,
                   "Show the partial verdicts behind each verdict");
  screen
      ->add_option("--only", only,
                   "Write only these verdicts: explicitlyPermitted, implicitlyPermitted, "
                   "explicitlyDenied, implicitlyDenied, undefined, undecodable, outbound (also "
                   "permitted, denied); comma-separated, repeatable")
      // One value per occurrence: a greedy option would take the captures
      // that follow it as verdicts.
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  addHomeOptions(screen);
  screen->add_option("--write", screenOptions.write,
                     "Copy the frames of the selected messages to FILE (pcapng when it ends in "
                     ".pcapng, with a comment per frame; pcap otherwise)");
  addSummaryOptions(screen, screenOptions, screenSummary);
  addInputOptions(screen, screenOptions);
  auto* live = screen->add_option("-i,--interface", screenOptions.interface,
                                  "Screen live traffic on this interface instead of captures");
  screen->add_option("--bpf", screenOptions.bpf, "Capture filter for -i")->needs(live);
  screen->add_flag("--promisc", screenOptions.promiscuous, "Promiscuous mode for -i")->needs(live);
  auto* screenCaptures = screen->add_option("CAPTURE", screenOptions.captures,
                                            "pcap, pcapng or .hex files; - for stdin");
  screenCaptures->excludes(live);

  qs::RunOptions decodeOptions;
  std::string decodeFormat = "text";
  auto* decode = app.add_subcommand("decode", "Decode every SCCP message of the captures");
  decode->add_option("--format", decodeFormat, "Output format")
      ->check(CLI::IsMember({"text", "jsonl"}))
      ->capture_default_str();
  addInputOptions(decode, decodeOptions);
  decode->add_option("CAPTURE", decodeOptions.captures, "pcap, pcapng or .hex files; - for stdin")
      ->required();

  qs::DiffOptions diffOptions;
  std::vector<std::string> diffConfigs;
  std::string diffFormat = "text";
  std::string diffSummary = "text";
  auto* diff = app.add_subcommand(
      "diff", "Screen the captures with two configurations and show the verdicts that differ");
  diff->add_option("--config", diffConfigs, "OLD, then NEW configuration")->required()->expected(2);
  diff->add_option("--plugin", diffOptions.run.plugin, "Plug-in library");
  diff->add_option("--format", diffFormat, "Output format")
      ->check(CLI::IsMember({"text", "jsonl"}))
      ->capture_default_str();
  diff->add_option("--summary", diffSummary, "Summary format on standard error")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  diff->add_option("--prefix-digits", diffOptions.run.prefixDigits,
                   "Digits of the calling GT counted as its prefix in the summary")
      ->check(CLI::Range(1, 15))
      ->capture_default_str();
  addHomeOptions(diff);
  addInputOptions(diff, diffOptions.run);
  diff->add_option("CAPTURE", diffOptions.run.captures, "pcap, pcapng or .hex files; - for stdin")
      ->required();

  std::string configFile;
  auto* check = app.add_subcommand(
      "check", "Lint a configuration and print the rules the plug-in will read from it");
  check->add_option("CONFIG", configFile, "Configuration file")->required();

  // Written at build time into the installed completion file.
  if (argc == 2 && std::string_view(argv[1]) == "--bash-completion") {
    fmt::print("{}", qs::bashCompletion(app, {{"--format", {"text", "jsonl"}},
                                              {"--only", qs::selectionWords()}}));
    return finish(0);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return finish(app.exit(e));
  } catch (const CLI::CallForAllHelp& e) {
    return finish(app.exit(e));
  } catch (const CLI::CallForVersion& e) {
    return finish(app.exit(e));
  } catch (const CLI::ParseError& e) {
    fmt::print(stderr, "qel-screen: {}\nRun 'qel-screen --help' for usage.\n",
               qs::oneLine(e.what()));
    return 2;
  }

  qs::Colour colourChoice = colour == "always"  ? qs::Colour::always
                            : colour == "never" ? qs::Colour::never
                                                : qs::Colour::automatic;
  if (*screen) {
    if (screenOptions.captures.empty() && screenOptions.interface.empty()) {
      fmt::print(stderr,
                 "qel-screen: screen: give a CAPTURE or -i INTERFACE\nRun 'qel-screen --help' "
                 "for usage.\n");
      return 2;
    }
    screenOptions.format = format == "jsonl" ? qs::Format::jsonl : qs::Format::text;
    if (!parseHome(screenOptions.home)) return 2;
    screenOptions.summaryFormat =
        screenSummary == "json" ? qs::SummaryFormat::json : qs::SummaryFormat::text;
    screenOptions.colour = colourChoice;
    if (!only.empty()) {
      std::string bad;
      auto selection = qs::Selection::parse(splitCommas(only), bad);
      if (!selection) {
        fmt::print(stderr,
                   "qel-screen: --only: unknown verdict \"{}\" (explicitlyPermitted, "
                   "implicitlyPermitted, explicitlyDenied, implicitlyDenied, undefined, "
                   "undecodable, outbound, permitted, denied)\n",
                   qs::oneLine(bad));
        return 2;
      }
      screenOptions.only = *selection;
    }
    return qs::runScreen(screenOptions);
  }
  if (*decode) {
    decodeOptions.format = decodeFormat == "jsonl" ? qs::Format::jsonl : qs::Format::text;
    decodeOptions.colour = colourChoice;
    return qs::runDecode(decodeOptions);
  }
  if (*diff) {
    diffOptions.oldConfig = diffConfigs.at(0);
    diffOptions.newConfig = diffConfigs.at(1);
    diffOptions.run.format = diffFormat == "jsonl" ? qs::Format::jsonl : qs::Format::text;
    diffOptions.run.summaryFormat =
        diffSummary == "json" ? qs::SummaryFormat::json : qs::SummaryFormat::text;
    diffOptions.run.colour = colourChoice;
    if (!parseHome(diffOptions.run.home)) return 2;
    return qs::runDiff(diffOptions);
  }
  qs::CheckReport report = qs::checkConfig(configFile);
  for (const auto& d : report.diagnostics)
    fmt::print(stderr, "{}\n", qs::oneLine(qs::formatDiagnostic(configFile, d)));
  if (report.exitStatus() < 2) fmt::print("{}", report.effectiveRules);
  return finish(report.exitStatus());
}
