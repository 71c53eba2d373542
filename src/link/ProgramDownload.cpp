#include "link/ProgramDownload.h"

#include <cstdio>

#include "link/DebuggerSession.h"
#include "link/DownloadUi.h"
#include "link/LinkSystem.h"
#include "platform/Platform.h"
#include "support/Log.h"
#include "support/Shell.h"
#include "support/Strings.h"

QUILL_LOG_TAG("ProgramDownload")

ProgramDownload::ProgramDownload(DebuggerSession& session, LinkSystem& system) : m_session(session), m_system(system) {}

void ProgramDownload::Go(const std::string& path) {
  if (m_thread.IsStarted()) return;  // one download at a time
  m_imageMissing = !m_system.IsReadable(path.c_str());
  if (m_imageMissing) {
    LOG_AT("DownloadGo file \"%s\"not exist\n", platform::PathToDisplay(path).c_str());
    return;
  }
  if (m_session.IsBox()) {
    GoBox(path);
  } else {
    GoLoader(path);
  }
}

void ProgramDownload::GoBox(const std::string& path) {
  void* box = nullptr;
  hostio::DownloadProgramFn download = nullptr;
  if (!m_session.GetBox(&box, &download) || box == nullptr) return;
  LOG_AT("DownloadGo QD-KAV-BOX\n");
  m_file = path;
  if (m_ui != nullptr) m_ui->PrepareDownloadDialog();
  if (!m_thread.Start(&ProgramDownload::ThreadEntry, this)) {
    Log("CreateThread failed: last error is %u\n", platform::LastError());
    return;
  }
  // The dialog returns when the thread has ended it (at once when it ended
  // before the dialog came up).
  if (m_ui != nullptr) m_ui->RunDownloadDialog();
  m_thread.Join();
}

void ProgramDownload::GoLoader(const std::string& path) {
  const std::string serial = m_session.GetSerial();
  if (serial.empty()) return;
  const std::string tool = m_system.ExpandStartupText(
      LinkSystem::JoinPath({"%KAVSDK_ROOT%", "tools", "CommandLineTools", "kav_loadrun32.exe"}));
  // Started by its full path only: the unexpanded pattern would name a
  // folder in the current one.
  std::string problem;
  if (!m_system.UsablePath(tool, &problem)) {
    LOG_AT("DownloadGo loadrun not started: %s\n", problem.c_str());
    return;
  }
  const std::string shown = platform::PathToDisplay(tool);
  if (!m_system.IsReadable(tool.c_str())) {
    LOG_AT("DownloadGo loadrun \"%s\"not exist\n", shown.c_str());
    return;
  }
  // The tool may read its command line in the ANSI code page: the image's
  // path in a form that survives that.
  const std::string image = platform::AnsiSafePath(path);
  std::string parameters = "\"";
  parameters += image.empty() ? path : image;
  parameters += "\" -d ";
  parameters += serial;
  parameters += " -c esc -c reset --no-wait";
  // A loader that cannot be started costs the download, not the program.
  int code = 0;
  bool started = false;
  if (m_ui != nullptr) {
    started = m_ui->StartLoader(tool, parameters, &code);
  } else {
    CShell shell;
    shell.SetFile(tool);
    shell.SetParameters(parameters);
    started = shell.Start(false, &code);
  }
  if (started) return;
  LOG_AT("DownloadGo loadrun \"%s\" failed to start (%d)\n", shown.c_str(), code);
  if (m_ui != nullptr) m_ui->ShowLoaderFailure(shown, code);
}

bool ProgramDownload::AutoLoad(uint32_t autoLoad, const std::string& programFolder) {
  if (autoLoad == 0) m_imageMissing = false;  // nothing is expected any more
  if (autoLoad == 0 || m_session.GetStatus() == PacketChannel::Status::DISCONNECTED) return false;
  std::string path;
  if (programFolder.empty()) {
    path = MakeAbsolute("Quillon.bxa");
  } else {
    path = programFolder;
    const char last = path.back();
    if (last != '\\' && last != '/') path += LinkSystem::Separator();
    path += "Quillon.bxa";
  }
  Go(path);
  return true;
}

void ProgramDownload::ThreadEntry(void* context) {
  static_cast<ProgramDownload*>(context)->RunThread();
}

// The download thread: the box interface and the dialog's reports, without
// the link's lock.
void ProgramDownload::RunThread() {
  void* box = nullptr;
  hostio::DownloadProgramFn download = nullptr;
  if (m_session.GetBox(&box, &download)) {
    if (download == nullptr || box == nullptr) {
      Log("DownloadGo %s\n", "failed");
    } else {
      // The box interface takes the image's path as ANSI text: the path, or
      // its short form when it has characters that the code page lacks.
      const std::string narrow = platform::PathToDisplay(platform::AnsiSafePath(m_file));
      const int32_t r = narrow.empty() ? 0 : download(box, narrow.c_str(), &ProgramDownload::Progress, this);
      Log("DownloadGo %s\n", r != 0 ? "success" : "failed");
    }
  }
  if (m_ui != nullptr) m_ui->EndDownloadDialog();
}

int32_t HOSTIO_CALL ProgramDownload::Progress(void* context, uint64_t done, uint64_t total) {
  Log("%llu/%llu\n", static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
  // Two 20-digit numbers, the slash and the terminator.
  char text[48];
  snprintf(text, sizeof(text), "%llu/%llu", static_cast<unsigned long long>(done),
           static_cast<unsigned long long>(total));
  auto* self = static_cast<ProgramDownload*>(context);
  if (self != nullptr && self->m_ui != nullptr) self->m_ui->SetDownloadText(text);
  return 1;
}
