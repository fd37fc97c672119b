// How long one AT exchange lasts when the modem answers after a delay: the time from writing
// the command to the end of its exchange, on a real serial line (the simulated modem's pty, run
// with --latency). Prints one line per exchange: the milliseconds and the status.
//
//   exchange_latency DEVICE [COMMAND] [REPEATS]     (default: AT, 5)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "port/at_exchange.hpp"
#include "port/platform.hpp"
#include "text/text.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: exchange_latency DEVICE [COMMAND] [REPEATS]\n", stderr);
    return 2;
  }
  const quorlin::Text command = quorlin::FromUtf8(argc > 2 ? argv[2] : "AT");
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;

  const quorlin::Platform system = quorlin::SystemPlatform();
  std::unique_ptr<quorlin::SerialPort> port =
      system.ports.Open(quorlin::FromUtf8(argv[1]), u"19200,n,8,1");
  if (!port) {
    std::fprintf(stderr, "exchange_latency: cannot open %s\n", argv[1]);
    return 1;
  }
  quorlin::AtExchange exchange(port, system.clock);
  for (int i = 0; i < repeats; ++i) {
    const auto started = std::chrono::steady_clock::now();
    const quorlin::Reply reply = exchange.Exchange(command, 5);
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf("%.1f %s\n", std::chrono::duration<double, std::milli>(took).count(),
                quorlin::ToUtf8(quorlin::StatusText(reply.result)).c_str());
  }
  return 0;
}
