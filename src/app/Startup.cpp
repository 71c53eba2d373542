#include "app/Startup.h"

#include <objbase.h>
#include <shellapi.h>

#include "app/CaptureSources.h"
#include "core/CaptureChoice.h"
#include "link/DebuggerSession.h"
#include "platform/Platform.h"
#include "resources/resource.h"
#include "settings/SoundConfig.h"
#include "support/Language.h"
#include "support/Log.h"
#include "support/Strings.h"
#include "ui/MainWindow.h"

const StartupSystem& SystemStartup() {
  static const StartupSystem system = {&platform::GetProgramPath, &MessageBoxA,      &CoInitializeEx,
                                       &CoUninitialize,           &platform::SetEnv, &CreateCaptureSources};
  return system;
}

const char* const Startup::CLEARED_VARIABLES[4] = {"KMC_PARTNER_KAVS", "KMC_KAVHOSTIO", "KMC_KAVHOSTIO_ORIGINAL",
                                                   "KMC_KAVHOSTIO_IS_OLD_DLL"};

void Startup::ShowError(unsigned textId) {
  m_system.messageBox(nullptr, LoadResourceString(textId).c_str(), LoadResourceString(IDS_APP_NAME).c_str(),
                      MB_ICONHAND | MB_SETFOREGROUND);
}

std::string Startup::FindProgramFolder() {
  const std::string folder = GetDirectory(m_system.programPath());
  if (folder.empty()) ShowError(IDS_PROGRAM_FOLDER_UNKNOWN);
  return folder;
}

std::vector<std::wstring> Startup::CommandLinePaths(const wchar_t* commandLine) {
  std::vector<std::wstring> paths;
  // An empty command line would give the program's own path as the one argument.
  if (commandLine == nullptr || *commandLine == L'\0') return paths;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(commandLine, &count);
  if (args == nullptr) return paths;
  for (int i = 1; i < count; ++i) {
    const std::wstring arg = args[i];
    if (arg.empty()) continue;
    // The full form needs up to the long form's length; kept as given when
    // it cannot be had (opening it then says what is wrong).
    std::vector<wchar_t> full(32768, L'\0');
    const DWORD length = GetFullPathNameW(arg.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    paths.push_back(length > 0 && length < full.size() ? std::wstring(full.data(), length) : arg);
  }
  LocalFree(args);
  return paths;
}

void Startup::ClearDebuggerVariables() {
  for (const char* name : CLEARED_VARIABLES) m_system.setEnv(name, nullptr);
}

bool Startup::InitializeCom() {
  const HRESULT hr = m_system.initializeCom(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    Log("CoInitialize failed: hr = 0x%08x\n", static_cast<unsigned>(hr));
    return false;
  }
  m_comInitialised = true;
  return true;
}

void Startup::UninitializeCom() {
  if (!m_comInitialised) return;
  m_comInitialised = false;
  m_system.uninitializeCom();
}

bool Startup::CreateSources(CaptureChoice& choice, const Adpcm* adpcm, PacketChannel* channel, MessageBoxSink& messages,
                            const CaptureTexts& texts) {
  m_system.createSources(choice, adpcm, channel, messages, texts);
  if (choice.GetCount() > 0) return true;
  Log("No capture source could be made\n");
  return false;
}

void Startup::RestoreSettingsAndConnect(MainWindow& window, SoundConfig& config, DebuggerSession& session) {
  config.RestoreAutoSave();
  if (session.ConnectFirst(true)) {
    window.AutoLoadBxa();
  } else {
    window.ShowNotConnected();
  }
  window.GetStatus().UpdateCaption();
}

void Startup::ReportNoWindow() {
  Log("The main window could not be made; the program ends\n");
  ShowError(IDS_WINDOW_NOT_CREATED);
}
