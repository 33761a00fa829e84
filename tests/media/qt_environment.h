#pragma once
// The QCoreApplication that Qt's D-Bus and process classes expect, made once for the test run.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace quorvel::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[11] = "media_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QCoreApplication> app_;
};

}  // namespace quorvel::testing
