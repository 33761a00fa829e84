#pragma once

namespace quorvel {

// Raises the soft limit on open files to the hard limit, so that many clients can be served at
// once. Failures are ignored: the program then runs with the limit it was given.
void RaiseOpenFileLimit();

}  // namespace quorvel
