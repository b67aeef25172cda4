// kestrow scenarios that the Linux programs and the Windows ones under Wine
// must pass alike (shared_scenarios.cpp). Each suite instantiates them with
// its platform's ToolRunner.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

class SharedScenarioTest : public ::testing::TestWithParam<const ToolRunner *> {
 protected:
  void SetUp() override {
    std::string why = tools().Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  const ToolRunner &tools() const { return *GetParam(); }
};
