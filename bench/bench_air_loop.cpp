// bench_air_loop: runs only the broadcast loop (real UDP socket, real 10 ms
// packet pause, system clock) for a while, so that scripts can measure it
// from outside: the pacing on the air and the process's CPU. Log lines go
// to standard output (send them to /dev/null). Refuses to run outside the
// private network namespace of scripts/netns-exec.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "broadcast/broadcast_loop.h"
#include "broadcast/udp_socket.h"
#include "support/private_netns.h"

namespace {

class StdoutSink : public LogSink {
 public:
  void AppendLog(const char* line, const CycleFields&) override { std::fputs(line, stdout); }
};

}  // namespace

int main(int argc, char** argv) {
  int programs = 27;  // 20-byte names: 27 fill one section of six packets
  uint32_t period = 10;
  double seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--programs"))
      programs = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--period"))
      period = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (!std::strcmp(argv[i], "--duration"))
      seconds = std::atof(argv[i + 1]);
    else {
      std::fprintf(stderr, "usage: bench_air_loop [--programs N] [--period MS] [--duration SEC]\n");
      return 2;
    }
  }
  if (!InPrivateNetns()) {
    std::fprintf(stderr, "bench_air_loop: run me through scripts/netns-exec; I send multicast\n");
    return 77;
  }
  if (programs < 0 || programs > MAX_PROGRAMS) programs = 27;
  ResetProgramTable();
  {
    std::lock_guard lock(g_TableGuard);
    for (int i = 0; i < programs; ++i) {
      ProgramEntry& e = g_Programs[i];
      e.nNumber = 100 + i;
      std::snprintf(e.szName, sizeof e.szName, "channel %012d", i);
      std::snprintf(e.szMulticast, sizeof e.szMulticast, "239.1.%d.%d", i / 250, 1 + i % 250);
      e.nPort = 1234;
    }
    g_nProgramCount = programs;
    g_bListChanged.store(1);
  }

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before the thread, which inherits it

  UdpSocket socket;
  MonotonicPause pause;
  SystemClock clock;
  StdoutSink sink;
  std::atomic<uint32_t> rate{period};
  BroadcastLoop loop(socket, pause, clock, sink, rate);
  loop.Start(0);
  timespec limit{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  sigtimedwait(&set, nullptr, &limit);
  loop.Stop();
  std::fflush(stdout);
  std::fprintf(stderr, "cycles: %llu\n", static_cast<unsigned long long>(loop.Cycles()));
  return 0;
}
