// Stand-in for the KMC debugger vendor's library loadrun_kav.dll: the serial
// number of a KMC debugger by its id, asked of quill-devsim.
// Test and demo equipment: never shipped with the program.
#include <cstdint>
#include <cstring>
#include <vector>

#include "../common/SimClient.h"

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define STANDIN_CALL __cdecl
#else
#define STANDIN_CALL
#endif

STANDIN_EXPORT int32_t STANDIN_CALL LRKAV_id2serialno(uint32_t id, char* text);

// Writes at most 31 characters and the terminator; >= 0 on success.
STANDIN_EXPORT int32_t STANDIN_CALL LRKAV_id2serialno(uint32_t id, char* text) {
  if (text == nullptr) return -1;
  static sim::SimClient client;  // closes its connections when the library is unloaded
  std::vector<uint8_t> out;
  const int32_t r = client.Call(sim::OP_SERIAL, sim::KIND_KMC, static_cast<int32_t>(id), 0, 0, nullptr, 0, &out);
  if (r < 0) return -1;
  const size_t n = out.size() < 31 ? out.size() : 31;
  if (n > 0) memcpy(text, out.data(), n);
  text[n] = 0;
  return 0;
}
