// Starts quill-devsim for one test and stops it again, by its process id, also
// when the test fails: a stop file asks it to end with its summary; after a
// grace period it is killed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { Stop(); }

  // Starts the simulator in simBin with these arguments (plus --listen on a
  // free port, --port-file and --stop-file in workDir) and waits until it
  // listens. Its output goes to workDir + "devsim.log".
  bool Start(const std::string& simBin, const std::vector<std::string>& arguments, const std::string& workDir);
  uint16_t Port() const { return m_port; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
  // Ends the simulator (a no-op when it is not running); true when it ended
  // by itself within the grace period.
  bool Stop();
  // Ends it at once, as a crash or a kill would.
  void Kill();
  // Everything it printed so far.
  std::string Output() const;

 private:
  std::string m_workDir;
  uint16_t m_port = 0;
#ifdef _WIN32
  void* m_process = nullptr;
#else
  int m_pid = 0;
#endif
};

// The folder of the stand-ins and the simulator: "sim-bin" beside the test
// program's own "bin" folder, with a trailing separator.
std::string SimBinFolder();
// The file name of a stand-in library or program in this build.
std::string LibraryName(const std::string& base);  // "kav_hostio32" -> kav_hostio32.dll / .so
std::string SimulatorName();                       // quill-devsim(.exe)

bool CopyFileBytes(const std::string& from, const std::string& to, bool executable);
bool MakeFolder(const std::string& path);
std::string ReadFileText(const std::string& path);
