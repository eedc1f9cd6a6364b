// The built module as a host sees it: exactly two exported names, and the
// host and registry operations left for the loading process. (Loading it,
// which fails for a module of another machine, and serving a call are the
// business of the end-to-end and package tests.)

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

std::set<std::string> Symbols(const std::string& nmFlags) {
  std::string command =
      "nm -D " + nmFlags + " --format=just-symbols " ACL_MODULE_PATH;
  std::set<std::string> names;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char name[512];
  while (std::fscanf(pipe, "%511s", name) == 1) names.insert(name);
  pclose(pipe);
  return names;
}

TEST(ModuleSo, ExportsOnlyItsTwoEntryPoints) {
  EXPECT_EQ(Symbols("--defined-only"),
            (std::set<std::string>{"ServiceCreate", "ServiceDestroy"}));
}

TEST(ModuleSo, LeavesHostOperationsToTheLoadingProcess) {
  std::set<std::string> undefined = Symbols("--undefined-only");
  for (const char* name :
       {"GRPC_GetServerBuilder", "GRPC_SESSION_IsExisting",
        "GRPC_CheckValueOfPara", "GRPC_AdapterGet2Quorvex",
        "GRPC_Split_MassiveData", "ZORM_GetRegTreeRoot",
        "ZORM_GetChildZormRegNode", "ZORM_GetChildZormRegNodeIgnoreCase",
        "ZORM_SetMorValue", "ZORM_IPV4_SetMorValue", "ZORM_GetTypeInfo"}) {
    EXPECT_TRUE(undefined.count(name)) << name;
  }
}

}  // namespace
