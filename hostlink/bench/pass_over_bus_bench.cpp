// The feed pass over a 20,000-line selection against the test host on a
// private bus, beside the bus's raw round trip measured in the same run.
#include <QCoreApplication>
#include <QDBusMessage>

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

// Counts the member calls the pass makes and, before each, times one raw
// round trip (a trivial method on the same host), so that both figures see
// the same load on the machine. The raw time is kept out of the pass's time.
class Interleaved : public hostlink::HostOperations {
 public:
  Interleaved(hostlink::HostOperations& inner, QDBusConnection bus, const QString& owner)
      : in_(inner),
        bus_(std::move(bus)),
        ping_(QDBusMessage::createMethodCall(owner, hostlink::dbus::kObjectPath,
                                             hostlink::dbus::kInterface, "Ping")) {}
  std::int32_t SystemType() override { return Raw(), in_.SystemType(); }
  std::int32_t StartSelection() override { return Raw(), in_.StartSelection(); }
  std::int32_t EndSelection() override { return Raw(), in_.EndSelection(); }
  void selectline(std::int32_t l, hostlink::ArgForm f) override { Raw(), in_.selectline(l, f); }
  void markline(std::int32_t l, std::int32_t m, hostlink::ArgForm f) override {
    Raw(), in_.markline(l, m, f);
  }
  void step() override { Raw(), in_.step(); }
  double CurrentBlock(std::int32_t i) override { return Raw(), in_.CurrentBlock(i); }
  void add(const std::string& letter, double v) override { Raw(), in_.add(letter, v); }

  // One raw round trip, timed.
  void Raw() {
    const auto t0 = Clock::now();
    if (bus_.call(ping_, QDBus::Block).type() != QDBusMessage::ReplyMessage) {
      std::fprintf(stderr, "Ping failed\n");
      std::exit(1);
    }
    raw += Clock::now() - t0;
    ++calls;
  }

  long long calls = 0;
  Clock::duration raw{};

 private:
  hostlink::HostOperations& in_;
  QDBusConnection bus_;
  QDBusMessage ping_;
};

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
  hostlink::dbus::DbusConnector connector(bus.Address().toStdString());
  if (!hostlink::AttachSequence(editor, connector, [](const std::string& m) {
        std::fprintf(stderr, "%s\n", m.c_str());
      })) {
    return 1;
  }

  // Every line is a short diagonal move at feed 500: each gets a feed write.
  feed::PassInput input{"1", "400", "0", "0", true};
  Interleaved timed(editor, bus.Connection(), owner);
  for (int i = 0; i < 2000; ++i) timed.Raw();  // warm-up
  timed.calls = 0;
  timed.raw = {};
  const auto t0 = Clock::now();
  try {
    feed::RunPass(timed, input, [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pass failed: %s\n", e.what());
    return 1;
  }
  const auto wall = Clock::now() - t0;
  const double passUs = std::chrono::duration<double, std::micro>(wall - timed.raw).count();
  const double rawUs = std::chrono::duration<double, std::micro>(timed.raw).count() / timed.calls;
  const long long calls = timed.calls;

  const double perLine = passUs / lines;
  const double callsPerLine = static_cast<double>(calls) / lines;
  const double ratio = perLine / (callsPerLine * rawUs);
  std::printf("lines visited:            %d\n", lines);
  std::printf("host calls:               %lld (%.3f per line)\n", calls, callsPerLine);
  std::printf("pass:                     %.1f ms, %.2f us per line\n", passUs / 1000, perLine);
  std::printf("raw bus round trip:       %.2f us per call (%lld calls, one before each)\n", rawUs, calls);
  std::printf("ratio per line / (calls x round trip): %.3f (target <= 1.3)\n", ratio);
  return 0;
}
