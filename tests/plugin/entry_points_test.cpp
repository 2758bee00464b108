// The built module as a host sees it: its exported symbols, and the five
// entry points resolved with dlsym and used the way a host uses them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "px/PluginModule.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) out += buf;
  pclose(pipe);
  return out;
}

TEST(PluginModule, ExportsExactlyTheFiveEntryPoints) {
  const std::string listing = run(std::string("nm -D --defined-only ") + QEL_PLUGIN_PATH);
  std::set<std::string> names;
  std::size_t pos = 0;
  while (pos < listing.size()) {
    const auto end = listing.find('\n', pos);
    const std::string line = listing.substr(pos, end - pos);
    pos = end == std::string::npos ? listing.size() : end + 1;
    const auto space = line.rfind(' ');
    if (space != std::string::npos) names.insert(line.substr(space + 1));
  }
  EXPECT_EQ(names, (std::set<std::string>{"plugin_create", "plugin_exit", "plugin_info",
                                          "plugin_init", "plugin_name"}))
      << listing;
  // All five are functions (T), not data.
  for (const auto& n : names) EXPECT_NE(listing.find(" T " + n), std::string::npos) << n;
}

TEST(PluginModule, RefusesWhatCannotBeOpenedOrIsNoPlugin) {
  std::string why;
  EXPECT_EQ(px::PluginModule::open("/nonexistent/qel-screening-sccp.so", why), nullptr);
  EXPECT_NE(why.find("/nonexistent/qel-screening-sccp.so"), std::string::npos) << why;
  why.clear();
  EXPECT_EQ(px::PluginModule::open(QEL_PXHOST_PATH, why), nullptr);
  EXPECT_EQ(why,
            std::string(QEL_PXHOST_PATH) + ": not a screening plug-in (an entry point is missing)");
}

class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    module = px::PluginModule::open(QEL_PLUGIN_PATH, why);
    ASSERT_NE(module, nullptr) << why;
    name = module->name;
    init = module->init;
    exit = module->exit;
    create = module->create;
    info = module->info;
  }

  // Filters may outlive plugin_exit, but not the module's code: each test
  // drops its filters before the module is closed.
  std::unique_ptr<px::PluginModule> module;
  px::plugin_name_fn* name = nullptr;
  px::plugin_init_fn* init = nullptr;
  px::plugin_exit_fn* exit = nullptr;
  px::plugin_create_fn* create = nullptr;
  px::plugin_info_fn* info = nullptr;
};

TEST_F(LoadedPlugin, NameAndInfoDescribeThePlugin) {
  EXPECT_STREQ(name(), "qel-screening-sccp");
  EXPECT_EQ(name(), name());  // one constant, not built per call
  auto dict = px::adoptDictionary(info());
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dict->size(), 3u);
  EXPECT_EQ(*dict->find("name")->text(), "qel-screening-sccp");
  EXPECT_EQ(*dict->find("type")->text(), "sccp-screening");
  EXPECT_EQ(*dict->find("version")->text(), "2.0.0");
  auto again = px::adoptDictionary(info());
  EXPECT_NE(again.get(), dict.get());  // a new dictionary each call
}

TEST_F(LoadedPlugin, InitAcceptsAnyDictionaryAndExitEndsNothing) {
  const PXDictionary withEntries{{"node", PXValue("stp-1")}, {"threads", PXValue(4)}};
  const PXDictionary empty;
  EXPECT_EQ(init(&withEntries), 0);
  EXPECT_EQ(init(&empty), 0);
  EXPECT_EQ(init(nullptr), 0);
  EXPECT_EQ(init(nullptr), 0);

  auto filter = px::adoptPlugin(create());
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(exit(), 0);
  auto* screening = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(filter.get());
  ASSERT_NE(screening, nullptr);
  PXSCCP_Packet p;
  EXPECT_EQ(screening->screenSccpPacketInbound(&p, nullptr), PXSccpScreening_undefined);
  auto report = screening->reloadConfig();
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->domain(), "QEL-SCCP-SCREENING");
  EXPECT_EQ(report->code(), 0);
  screening->close();
  EXPECT_EQ(screening->screenSccpPacketInbound(&p, nullptr), PXSccpScreening_undefined);
  EXPECT_EQ(exit(), 0);
}

TEST_F(LoadedPlugin, EachCreateMakesAnIndependentFilter) {
  auto first = px::adoptPlugin(create());
  auto second = px::adoptPlugin(create());
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  auto* a = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(first.get());
  auto* b = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(second.get());
  ASSERT_TRUE(a && b);
  EXPECT_NE(dynamic_cast<PXSccpScreeningExplainer*>(first.get()), nullptr);
  // Loading a configuration into one leaves the other unconfigured.
  char path[] = "/tmp/qel-entry-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string toml = "[sccp-screening]\ndefault-deny-tt = true\n";
  ASSERT_EQ(write(fd, toml.data(), toml.size()), static_cast<ssize_t>(toml.size()));
  ::close(fd);
  a->loadConfigFromFile(path);
  std::remove(path);
  PXSCCP_Packet p;
  EXPECT_EQ(a->screenSccpPacketInbound(&p, nullptr), PXSccpScreening_implicitlyDenied);
  EXPECT_EQ(b->screenSccpPacketInbound(&p, nullptr), PXSccpScreening_undefined);
  EXPECT_EQ(second->config(), nullptr);
  // A filter's config group belongs to it alone.
  first->setConfig(std::make_shared<const PXDictionary>());
  EXPECT_NE(first->config(), nullptr);
  EXPECT_EQ(second->config(), nullptr);
}

}  // namespace
