#include "core/worker_connection.h"

#include <mutex>
#include <string>

#include "platform/clock.h"

namespace postil {

WorkerConnection::WorkerConnection(ConnectionSlot& slot, std::unique_ptr<Transport> transport)
    : slot_(slot), channel_(std::move(transport)) {}

void WorkerConnection::OpenAndGreet(RunState& state, const Logger& log, std::string_view host,
                                    int port, int time_out_seconds,
                                    const std::function<void(Channel&)>& greet) {
  std::lock_guard lock(state.StateMutex);
  channel_.OpenChannel(host, port, time_out_seconds);
  // Attached at once, so the kill keys can cut even the wait for the greeting.
  if (channel_.ChannelSocket() != 0) slot_.Attach(&channel_);
  log.Write(LogLevel::kTrace, "IP: " + channel_.LocalIpAddress());
  platform::SleepMilliseconds(1);
  greet(channel_);
}

void WorkerConnection::Close() {
  slot_.Detach();
  channel_.CloseChannel();
}

}  // namespace postil
