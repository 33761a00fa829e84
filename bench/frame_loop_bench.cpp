// The relay's own cost per frame, without the kernel: arrivals of many FLAP frames on the fake
// network, each frame either handed to a forwarding host and sent back renumbered, or left by the
// host to the relay, which renumbers it where it lies (what the traffic monitor does with all but
// a few kinds of frame).
//
//   build-bench/bench/frame_loop_bench

#include <benchmark/benchmark.h>

#include <string>

#include "proxy/fake_socket.h"  // tests/proxy
#include "proxy/forwarding_host.h"
#include "proxy/relay.h"
#include "wire/word.h"

namespace {

using quorvel::Bytes;
using quorvel::testing::FakeNetwork;
using quorvel::testing::FakeSocket;

void FramesThroughTheRelay(benchmark::State& state) {
  const auto dataSize = static_cast<std::size_t>(state.range(0));
  const bool raised = state.range(1) != 0;
  FakeNetwork net;
  quorvel::Relay relay(net);
  quorvel::testing::ForwardingHost host(relay, nullptr, raised);
  relay.SetHost(&host);
  relay.StartListening(3131);
  net.ClientConnects();
  auto& client = static_cast<FakeSocket&>(relay.ClientSocket(1));
  auto& server = static_cast<FakeSocket&>(relay.ServerSocket(1));
  client.Arrive(Bytes("\x04\x01\x14\x46\x7F\x00\x00\x02u", 9) + '\0');
  server.CompleteConnect();
  Bytes burst;
  std::int64_t frames = 0;
  while (burst.size() + dataSize + 6 <= 256 * 1024) {
    burst += Bytes("\x2A\x02\x00\x00", 4) + quorvel::WordLenString(Bytes(dataSize, 'd'));
    ++frames;
  }
  server.sent.reserve(burst.size() * 2);
  for (auto _ : state) {
    client.Arrive(burst);
    server.Drain(server.sent.size());
    server.sent.clear();
  }
  state.SetItemsProcessed(state.iterations() * frames);
  state.counters["ns/frame"] =
      benchmark::Counter(static_cast<double>(state.iterations() * frames),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(FramesThroughTheRelay)
    ->ArgNames({"size", "raised"})
    ->Args({50, 1})
    ->Args({1000, 1})
    ->Args({50, 0})
    ->Args({1000, 0});

}  // namespace

BENCHMARK_MAIN();
