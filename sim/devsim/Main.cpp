// quill-devsim: the simulated device side for the stand-in host-I/O
// libraries. See Options.cpp (UsageText) for the command line.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "../common/SimSocket.h"
#include "Device.h"
#include "EventLog.h"
#include "Options.h"
#include "RingReader.h"

namespace {

std::atomic<bool> s_quit{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
  s_quit.store(true);
  return TRUE;
}
void InstallSignalHandlers() {
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}
#else
void OnSignal(int) {
  s_quit.store(true);
}
void InstallSignalHandlers() {
  signal(SIGINT, &OnSignal);
  signal(SIGTERM, &OnSignal);
  signal(SIGPIPE, SIG_IGN);
}
#endif

// One stand-in connection: requests in, answers out, until it closes.
void Serve(sim::Socket socket, sim::Device* device) {
  sim::Device::Transfer transfer;
  sim::RingReader ring(device);  // this connection's, when it asks for one
  std::vector<uint8_t> payload;
  std::vector<uint8_t> out;
  for (;;) {
    uint8_t head[sim::Request::SIZE];
    if (!socket.RecvAll(head, sizeof(head))) return;
    const sim::Request request = sim::Request::Decode(head);
    if (request.magic != sim::PROTOCOL_MAGIC || request.length > sim::MAX_PAYLOAD) return;
    payload.resize(request.length);
    if (request.length > 0 && !socket.RecvAll(payload.data(), payload.size())) return;
    out.clear();
    if (request.op == sim::OP_SIO_WRITE) device->NoteAnsweredWrite();
    ring.Drain();  // the writes put there before this request
    sim::Response response;
    if (request.op == sim::OP_SIO_RING) {
      response.result = ring.Create(&out);
    } else if (request.op == sim::OP_SIO_RING_READY) {
      response.result = ring.Ready();
    } else {
      response.result = device->Handle(request, payload, transfer, &out);
      if (request.op == sim::OP_SIO_WRITE) ring.Granted(out);
    }
    if (request.op == sim::OP_SIO_POST) continue;  // not answered
    response.length = static_cast<uint32_t>(out.size());
    uint8_t answer[sim::Response::SIZE];
    response.Encode(answer);
    if (!socket.SendAll(answer, sizeof(answer))) return;
    if (!out.empty() && !socket.SendAll(out.data(), out.size())) return;
  }
}

bool FileExists(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  fclose(file);
  return true;
}

bool WritePortFile(const std::string& path, uint16_t port) {
  const std::string temporary = path + ".tmp";
  FILE* file = fopen(temporary.c_str(), "w");
  if (file == nullptr) return false;
  fprintf(file, "%u\n", port);
  if (fclose(file) != 0) return false;
  remove(path.c_str());
  return rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Options options;
  std::string error;
  if (!sim::ParseOptions(argc, argv, &options, &error)) {
    if (error.empty()) {
      fputs(sim::UsageText(), stdout);
      return 0;
    }
    fprintf(stderr, "quill-devsim: %s\n%s", error.c_str(), sim::UsageText());
    return 2;
  }

  const uint64_t start = sim::NowMs();
  sim::EventLog events(start);
  if (!options.eventsPath.empty() && !events.Open(options.eventsPath)) {
    fprintf(stderr, "quill-devsim: cannot write %s\n", options.eventsPath.c_str());
    return 1;
  }
  sim::Device device(options, events, start);

  uint16_t port = 0;
  sim::Socket listener = sim::Socket::Listen(options.host, options.port, &port);
  if (!listener.Valid()) {
    fprintf(stderr, "quill-devsim: cannot listen on %s:%u\n", options.host.c_str(), options.port);
    return 1;
  }
  InstallSignalHandlers();
  printf("quill-devsim: listening on %s:%u\n", options.host.c_str(), port);
  fflush(stdout);
  if (!options.portFile.empty() && !WritePortFile(options.portFile, port)) {
    fprintf(stderr, "quill-devsim: cannot write %s\n", options.portFile.c_str());
    return 1;
  }

  std::thread acceptor([&listener, &device] {
    while (!s_quit.load()) {
      if (!listener.WaitReadable(100)) continue;
      sim::Socket connection = listener.Accept();
      if (connection.Valid()) std::thread(Serve, std::move(connection), &device).detach();
    }
  });

  for (unsigned tick = 0; !s_quit.load(); ++tick) {
    device.Tick();
    if (options.durationMs != 0 && sim::NowMs() - start >= options.durationMs) break;
    if (!options.stopFile.empty() && tick % 10 == 0 && FileExists(options.stopFile)) break;
    sim::SleepMs(5);
  }
  s_quit.store(true);
  device.WakeAll();
  acceptor.join();
  device.Finish();

  printf("%s\n", device.SummaryLine().c_str());
  events.Flush();
  fflush(nullptr);
  // Connection threads may still wait in their sockets: end without
  // unwinding under them. Every file was flushed as it was written.
  std::_Exit(0);
}
