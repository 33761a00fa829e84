#pragma once
// The QCoreApplication that Qt's D-Bus and process classes expect, made once for the test run.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace quorvel::testing {

struct QtEnvironment : ::testing::Environment {
  void SetUp() override { app = std::make_unique<QCoreApplication>(argc, argv); }
  void TearDown() override { app.reset(); }

  int argc = 1;
  char name[11] = "media_test";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QCoreApplication> app;
};

}  // namespace quorvel::testing
