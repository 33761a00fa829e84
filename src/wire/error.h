#pragma once
// The one error type that the project's own code throws to its callers.

#include <stdexcept>
#include <string>

namespace quorvel {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quorvel
