// The feed pass over a 20,000-line selection against the test host on a
// private bus, beside the bus's raw round trip measured in the same run.
#include <QCoreApplication>
#include <QDBusMessage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "feed/pass.h"
#include "hostlink/attach.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_editor.h"
#include "hostlink/testing/private_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts the member calls the pass makes.
class Counting : public hostlink::HostOperations {
 public:
  explicit Counting(hostlink::HostOperations& inner) : in_(inner) {}
  std::int32_t SystemType() override { return ++n, in_.SystemType(); }
  std::int32_t StartSelection() override { return ++n, in_.StartSelection(); }
  std::int32_t EndSelection() override { return ++n, in_.EndSelection(); }
  void selectline(std::int32_t l, hostlink::ArgForm f) override { ++n, in_.selectline(l, f); }
  void markline(std::int32_t l, std::int32_t m, hostlink::ArgForm f) override {
    ++n, in_.markline(l, m, f);
  }
  void step() override { ++n, in_.step(); }
  double CurrentBlock(std::int32_t i) override { return ++n, in_.CurrentBlock(i); }
  void add(const std::string& letter, double v) override { ++n, in_.add(letter, v); }
  long long n = 0;

 private:
  hostlink::HostOperations& in_;
};

// Microseconds per call of the host's trivial Ping method.
double RawRoundTrip(QDBusConnection bus, const QString& owner, long long calls) {
  const QDBusMessage ping = QDBusMessage::createMethodCall(
      owner, hostlink::dbus::kObjectPath, hostlink::dbus::kInterface, "Ping");
  const auto t0 = Clock::now();
  for (long long i = 0; i < calls; ++i) {
    if (bus.call(ping, QDBus::Block).type() != QDBusMessage::ReplyMessage) {
      std::fprintf(stderr, "Ping failed\n");
      std::exit(1);
    }
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;

  hostlink::testing::PrivateBus bus;
  QString error;
  if (!bus.Start(&error)) {
    std::fprintf(stderr, "no private bus: %s\n", qPrintable(error));
    return 1;
  }
  bus.StartProcess(hostlink::testing::TestHostPath(),
                   {"-e", QString("diagonal %1 0.1 500").arg(lines)});
  const QString owner = bus.WaitForOwner(hostlink::dbus::kServiceName);
  if (owner.isEmpty()) {
    std::fprintf(stderr, "the test host did not start\n");
    return 1;
  }

  hostlink::HostEditor editor;
  hostlink::dbus::DbusConnector connector(bus.Connection());
  if (!hostlink::AttachSequence(editor, connector, [](const std::string& m) {
        std::fprintf(stderr, "%s\n", m.c_str());
      })) {
    return 1;
  }

  // Every line is a short diagonal move at feed 500: each gets a feed write.
  feed::PassInput input{"1", "400", "0", "0", true};
  Counting counting(editor);
  // The raw round trip is measured before and after the pass, as many calls
  // in all as the pass made, so that drift in the machine's load evens out.
  RawRoundTrip(bus.Connection(), owner, 2000);  // warm-up
  const long long before = 8LL * lines;
  const double rawBefore = RawRoundTrip(bus.Connection(), owner, before);
  const auto t0 = Clock::now();
  try {
    feed::RunPass(counting, input, [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pass failed: %s\n", e.what());
    return 1;
  }
  const double passUs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  const long long after = std::max(1LL, counting.n - before);
  const double rawAfter = RawRoundTrip(bus.Connection(), owner, after);
  const double rawUs = (rawBefore * before + rawAfter * after) / (before + after);

  const double perLine = passUs / lines;
  const double callsPerLine = static_cast<double>(counting.n) / lines;
  const double ratio = perLine / (callsPerLine * rawUs);
  std::printf("lines visited:            %d\n", lines);
  std::printf("host calls:               %lld (%.3f per line)\n", counting.n, callsPerLine);
  std::printf("pass:                     %.1f ms, %.2f us per line\n", passUs / 1000, perLine);
  std::printf("raw bus round trip:       %.2f us per call (%lld calls)\n", rawUs, before + after);
  std::printf("ratio per line / (calls x round trip): %.3f (target <= 1.3)\n", ratio);
  return 0;
}
