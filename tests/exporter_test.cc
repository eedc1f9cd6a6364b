// The exporter's credentials and configuration files: which target gets
// which token, and the files refused with their reason.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "exporter/credentials.h"
#include "exporter/exporter_config.h"
#include "exporter/tables.h"

namespace exporter {
namespace {

class FileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text, mode_t mode = 0600) {
    std::ofstream(path_) << text;
    chmod(path_.c_str(), mode);
    return path_;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  const std::string path_ =
      ::testing::TempDir() + "exporter_test." + std::to_string(getpid());
};

using CredentialsTest = FileTest;

TEST_F(CredentialsTest, PatternsPickTheFirstMatchExactOnesFirst) {
  std::string error;
  auto credentials = Credentials::Load(Write(
      "# PATTERN TOKEN\n"
      "127.0.0.0/8:50051      net\n"
      "127.0.0.9:50051        exact\n"
      "[::1]/128:50051        v6\n"
      "*.lab.localhost:50051  suffix\n"
      "localhost:50052        name\n"
      "\n"
      "127.0.0.0/8:1          late-net\n"), &error);
  ASSERT_TRUE(credentials) << error;
  const struct {
    const char* target;
    const char* token;  // nullptr: none
  } cases[] = {
      {"127.0.0.9:50051", "exact"},        // exact before the earlier network
      {"127.0.0.3:50051", "net"},
      {"127.1.2.3:50051", "net"},
      {"127.0.0.3:50052", nullptr},        // the network's port only
      {"[::1]:50051", "v6"},
      {"[0:0::1]:50051", "v6"},
      {"a.lab.localhost:50051", "suffix"},
      {"A.B.LAB.localhost:50051", "suffix"},  // names ignore case
      {"lab.localhost:50051", nullptr},    // the suffix needs a label before
      {"evillab.localhost:50051", nullptr},
      {"LOCALHOST:50052", "name"},
      {"localhost:50051", nullptr},        // a name is not in a network
      {"127.0.0.3:1", "late-net"},
      {"128.0.0.1:50051", nullptr},
  };
  for (const auto& c : cases) {
    const std::string* token = credentials->Find(c.target);
    if (c.token == nullptr) {
      EXPECT_EQ(nullptr, token) << c.target;
    } else {
      ASSERT_NE(nullptr, token) << c.target;
      EXPECT_EQ(c.token, *token) << c.target;
    }
  }
}

TEST_F(CredentialsTest, TheCatchAllIsExplicit) {
  std::string error;
  auto credentials =
      Credentials::Load(Write("127.0.0.1:1 one\n* every\n"), &error);
  ASSERT_TRUE(credentials) << error;
  EXPECT_EQ("one", *credentials->Find("127.0.0.1:1"));
  EXPECT_EQ("every", *credentials->Find("localhost:9"));
}

TEST_F(CredentialsTest, BadFilesAreRefusedWithoutShowingTokens) {
  const struct {
    const char* text;
    mode_t mode;
    const char* reason;
  } cases[] = {
      {"secret-one\n", 0600, "write \"* TOKEN\""},
      {"127.0.0.1:1 secret-one extra\n", 0600, "line 1: more words"},
      {"127.0.0.1 secret-one\n", 0600, "no port"},
      {"127.0.0.0/40:1 secret-one\n", 0600, "not a target pattern"},
      {"*.:1 secret-one\n", 0600, "not a target pattern"},
      {"*:1 secret-one\n", 0600, "not a target pattern"},
      {"a:1 x\nA:1 secret-one\n", 0600, "line 2: A:1 repeats"},
      {"a:1 secret-one\n", 0644, "readable by other users (mode 0644): "
                                 "chmod 600"},
      {"a:1 secret-one\n", 0602, "writable by other users"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Credentials::Load(Write(c.text, c.mode), &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    EXPECT_EQ(std::string::npos, error.find("secret-one")) << error;
  }
  std::string error;
  EXPECT_FALSE(Credentials::Load(path_ + ".none", &error));
  EXPECT_NE(std::string::npos, error.find("cannot read")) << error;
}

using ExporterConfigTest = FileTest;

TEST_F(ExporterConfigTest, ModulesAndAllowedTargets) {
  std::string error;
  auto config = ExporterConfig::Load(
      Write("allowed_targets: [\"127.0.0.0/8:50051\", \"*.localhost:1\"]\n"
            "modules:\n"
            "  applied:\n"
            "    tables: [PfilterGroupRunInfo, IPv4BasicRules]\n"),
      &error);
  ASSERT_TRUE(config) << error;
  uint64_t tables = 0;
  ASSERT_TRUE(config->Module("applied", &tables));
  uint64_t want = 0;
  for (size_t i = 0; i < kTableCount; ++i) {
    const std::string name = kTables[i].name;
    if (name == "PfilterGroupRunInfo" || name == "IPv4BasicRules") {
      want |= uint64_t{1} << i;
    }
  }
  EXPECT_EQ(want, tables);
  ASSERT_TRUE(config->Module("default", &tables));
  EXPECT_EQ((uint64_t{1} << kTableCount) - 1, tables);
  EXPECT_FALSE(config->Module("other", &tables));
  EXPECT_TRUE(config->Allows("127.0.0.2:50051"));
  EXPECT_TRUE(config->Allows("a.localhost:1"));
  EXPECT_FALSE(config->Allows("127.0.0.2:1"));

  const struct {
    const char* text;
    const char* reason;
  } bad[] = {
      {"modules:\n  m:\n    tables: [Nope]\n", "line 3: modules.m.tables: "
                                                 "unknown table Nope"},
      {"modules:\n  m: {}\n", "a list of one table or more"},
      {"modules:\n  m:\n    tables: [IPv4BasicRules]\n    x: 1\n",
       "unknown key modules.m.x"},
      {"modules:\n  \"a b\":\n    tables: [IPv4BasicRules]\n", "module name"},
      {"allowed_targets: 5\n", "not a list"},
      {"allowed_targets: [\"10.0.0.0/8\"]\n", "no port"},
      {"targets: []\n", "unknown key targets"},
      {"modules: [\n", "line 2"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(ExporterConfig::Load(Write(c.text), &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
  }
}

}  // namespace
}  // namespace exporter
