// libFuzzer target: arbitrary bytes arrive at a bus endpoint as one datagram. The endpoint
// must drop whatever is malformed and hand over only well-formed messages whose data
// length matches what arrived.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/debug_output.h"
#include "platform/message_bus.h"

namespace {

void Quiet(const std::string&) {}

struct Target {
  std::unique_ptr<platform::BusEndpoint> endpoint;
  int sender = -1;
  sockaddr_un addr{};
  std::size_t lastDataSize = 0;
  int handed = 0;

  Target() {
    platform::SetDebugSinkForTesting(Quiet);
    endpoint =
        platform::BusEndpoint::Open("Fuzz", "fuzz " + std::to_string(getpid()), [this](const platform::BusMessage& m) {
          ++handed;
          lastDataSize = m.Data.size();
        });
    if (!endpoint) std::abort();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime != nullptr && *runtime == '/' ? std::string(runtime) + "/vemo-bus/"
                                                            : "/tmp/vemo-bus-" + std::to_string(getuid()) + "/";
    std::string path = dir + std::to_string(endpoint->Handle()) + ".sock";
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Target target;
  target.handed = 0;
  if (sendto(target.sender, data, size, 0, reinterpret_cast<sockaddr*>(&target.addr), sizeof target.addr) < 0) return 0;
  target.endpoint->Dispatch();
  if (target.handed > 1) std::abort();  // one datagram is at most one message
  if (target.handed == 1 && (size < 36 || target.lastDataSize != size - 36)) std::abort();
  return 0;
}
