// Frames passing through the relay unchanged cost no heap allocation: raised to the host, each is
// copied once into a buffer reused from frame to frame; left to the relay, frames are renumbered
// where they were read. Either way they are appended to the other side's queue.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "relay_rig.h"

namespace {

std::size_t allocations = 0;

}  // namespace

// Every allocation of this test program is counted.
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace quorvel {
namespace {

TEST(RelayAllocations, FramesPassingThroughCostNoHeapAllocation) {
  Bytes burst;
  for (std::size_t k = 0; k < 200; ++k) burst += Frame(0, k % 300, 'f');
  for (const bool hostSeesFrames : {true, false}) {
    SCOPED_TRACE(hostSeesFrames ? "raised to the host" : "left to the relay");
    Rig r;
    const SlotIndex i = r.Relaying();
    testing::ForwardingHost host(r.relay, nullptr, hostSeesFrames);
    r.relay.SetHost(&host);
    for (const bool fromClient : {true, false}) {
      FakeSocket& from = fromClient ? r.Client(i) : r.Server(i);
      FakeSocket& to = fromClient ? r.Server(i) : r.Client(i);
      from.Arrive(burst);  // the first burst sizes the reused buffers
      to.TakeSent();
      to.sent.reserve(2 * burst.size());
      from.ArriveQuietly(burst);
      const std::size_t before = allocations;
      from.Announce();
      EXPECT_EQ(allocations - before, 0u);
      EXPECT_EQ(to.sent.size(), burst.size());
    }
  }
}

}  // namespace
}  // namespace quorvel
