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

  qs::RunOptions screenOptions;
  std::string format = "text";
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
  // The home network, one value per occurrence like --only.
  std::vector<std::string> homePc, homeIp, homeGt;
  for (auto [name, values, help] :
       {std::tuple{"--home-pc", &homePc,
                   "Inbound when the destination point code is one of these (decimal or 3-8-3); "
                   "comma-separated, repeatable"},
        std::tuple{"--home-ip", &homeIp,
                   "Inbound when the destination IP address is in one of these (ADDR[/BITS]); "
                   "comma-separated, repeatable"},
        std::tuple{"--home-gt", &homeGt,
                   "Inbound when the called global title begins with one of these digit "
                   "prefixes; comma-separated, repeatable"}})
    screen->add_option(name, *values, help)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  screen->add_option("CAPTURE", screenOptions.captures, "pcap, pcapng or .hex files; - for stdin")
      ->required();

  qs::RunOptions decodeOptions;
  std::string decodeFormat = "text";
  auto* decode = app.add_subcommand("decode", "Decode every SCCP message of the captures");
  decode->add_option("--format", decodeFormat, "Output format")
      ->check(CLI::IsMember({"text", "jsonl"}))
      ->capture_default_str();
  decode->add_option("CAPTURE", decodeOptions.captures, "pcap, pcapng or .hex files; - for stdin")
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

  if (*screen) {
    screenOptions.format = format == "jsonl" ? qs::Format::jsonl : qs::Format::text;
    std::string bad;
    if (!screenOptions.home.addPointCodes(splitCommas(homePc), bad)) {
      fmt::print(stderr,
                 "qel-screen: --home-pc: \"{}\" is not a point code (a decimal integer or "
                 "ITU 3-8-3 such as 2-100-3)\n",
                 qs::oneLine(bad));
      return 2;
    }
    if (!screenOptions.home.addIpPrefixes(splitCommas(homeIp), bad)) {
      fmt::print(stderr,
                 "qel-screen: --home-ip: \"{}\" is not an IPv4 or IPv6 address or prefix "
                 "(ADDR[/BITS])\n",
                 qs::oneLine(bad));
      return 2;
    }
    if (!screenOptions.home.addGlobalTitles(splitCommas(homeGt), bad)) {
      fmt::print(stderr, "qel-screen: --home-gt: \"{}\" is not a digit prefix\n", qs::oneLine(bad));
      return 2;
    }
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
    return qs::runDecode(decodeOptions);
  }
  qs::CheckReport report = qs::checkConfig(configFile);
  for (const auto& d : report.diagnostics)
    fmt::print(stderr, "{}\n", qs::oneLine(qs::formatDiagnostic(configFile, d)));
  if (report.exitStatus() < 2) fmt::print("{}", report.effectiveRules);
  return finish(report.exitStatus());
}
