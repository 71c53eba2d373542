// Stand-in for the SDK's loader tool kav_loadrun32.exe:
//   kav_loadrun32 IMAGE -d SERIAL [-c COMMAND]... [--no-wait]
// sends the image to the simulated KMC debugger with that serial number,
// which starts it, and returns without waiting for the program.
// Test and demo equipment: never shipped with the program.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../common/SimClient.h"

namespace {

int Usage() {
  fprintf(stderr, "usage: kav_loadrun32 IMAGE -d SERIAL [-c COMMAND]... [--no-wait]\n");
  return 2;
}

bool ReadImage(const std::string& path, std::vector<uint8_t>* image) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bool ok = false;
  if (fseek(file, 0, SEEK_END) == 0) {
    const long size = ftell(file);
    if (size > 0 && size <= (64L << 20) && fseek(file, 0, SEEK_SET) == 0) {
      image->resize(static_cast<size_t>(size));
      ok = fread(image->data(), 1, image->size(), file) == image->size();
    }
  }
  fclose(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string image;
  std::string serial;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-d" && i + 1 < argc) {
      serial = argv[++i];
    } else if (arg == "-c" && i + 1 < argc) {
      ++i;  // esc, reset: the simulated debugger always resets before a load
    } else if (arg == "--no-wait") {
    } else if (!arg.empty() && arg[0] != '-' && image.empty()) {
      image = arg;
    } else {
      return Usage();
    }
  }
  if (image.empty() || serial.empty()) return Usage();

  std::vector<uint8_t> bytes;
  if (!ReadImage(image, &bytes)) {
    fprintf(stderr, "kav_loadrun32: cannot read %s\n", image.c_str());
    return 1;
  }
  sim::SimClient client;
  sim::SimClient::Session session(client);
  if (session.Call(sim::OP_IMAGE_BEGIN, sim::KIND_KMC, 0, static_cast<int32_t>(bytes.size()), 0, serial.data(),
                   static_cast<uint32_t>(serial.size())) < 0) {
    fprintf(stderr, "kav_loadrun32: no debugger %s\n", serial.c_str());
    return 1;
  }
  const uint32_t chunk = 64 * 1024;
  for (size_t done = 0; done < bytes.size();) {
    const uint32_t n = static_cast<uint32_t>(bytes.size() - done < chunk ? bytes.size() - done : chunk);
    if (session.Call(sim::OP_IMAGE_DATA, sim::KIND_KMC, 0, 0, 0, &bytes[done], n) < 0) {
      fprintf(stderr, "kav_loadrun32: transfer failed\n");
      return 1;
    }
    done += n;
  }
  if (session.Call(sim::OP_IMAGE_END, sim::KIND_KMC, 0, 0, 0, nullptr, 0) <= 0) {
    fprintf(stderr, "kav_loadrun32: the image was not started\n");
    return 1;
  }
  printf("kav_loadrun32: %s started on %s\n", image.c_str(), serial.c_str());
  return 0;
}
