// qel-screen: shows what a screening plug-in decides for the SCCP traffic of
// captures, message by message and in total.
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "ConfigCheck.hpp"
#include "Run.hpp"

#ifndef QEL_VERSION
#define QEL_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
  CLI::App app{
      "Screens the SCCP messages of captures with an SCCP screening plug-in, decodes "
      "them, or checks a configuration before it goes live.",
      "qel-screen"};
  app.set_version_flag("--version", "qel-screen " QEL_VERSION);
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
                   "explicitlyDenied, implicitlyDenied, undefined, undecodable (also permitted, "
                   "denied)")
      ->delimiter(',');
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    fmt::print(stderr, "qel-screen: {}\nRun 'qel-screen --help' for usage.\n", e.what());
    return 2;
  }

  if (*screen) {
    screenOptions.format = format == "jsonl" ? qs::Format::jsonl : qs::Format::text;
    if (!only.empty()) {
      std::string bad;
      auto selection = qs::Selection::parse(only, bad);
      if (!selection) {
        fmt::print(stderr,
                   "qel-screen: --only: unknown verdict \"{}\" (explicitlyPermitted, "
                   "implicitlyPermitted, explicitlyDenied, implicitlyDenied, undefined, "
                   "undecodable, permitted, denied)\n",
                   bad);
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
    fmt::print(stderr, "{}\n", qs::formatDiagnostic(configFile, d));
  if (report.exitStatus() < 2) fmt::print("{}", report.effectiveRules);
  return report.exitStatus();
}
