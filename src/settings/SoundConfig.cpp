#include "settings/SoundConfig.h"

#include <cstring>
#include <utility>

#include "platform/Platform.h"
#include "settings/ConfigItems.h"
#include "support/Diag.h"
#include "support/Strings.h"

template <typename Item, typename... Args>
Item* SoundConfig::Add(const std::string (&path)[SoundConfigItem::DEPTH_MAX], Args... args) {
  QASSERT(m_count < ITEM_MAX);
  auto item = std::make_unique<Item>(args...);
  item->SetPath(path);
  Item* added = item.get();
  m_items[m_count++] = std::move(item);
  return added;
}

SoundConfig::SoundConfig(PacketChannel* channel, bool adpcmLoaded, const std::string& programFolder)
    : m_channel(channel), m_adpcmLoaded(adpcmLoaded), m_programFolder(programFolder) {
  std::string path[SoundConfigItem::DEPTH_MAX];
  auto section = [&path](const char* level0, const char* level1, const char* level2) {
    path[0] = level0;
    path[1] = level1;
    path[2] = level2;
    path[3].clear();
  };

  section("DisplayMode", "", "");
  Add<DisplayMode>(path, m_adpcmLoaded);

  section("SamplingMode", "", "");
  Add<SamplingRate>(path);
  Add<WaveFormat_>(path, m_adpcmLoaded);

  section("OutputMode", "", "");
  Add<OutputMode>(path);
  Add<ClippingMode>(path);
  Add<SurroundDepth>(path);
  Add<SurroundSpeakerPosition>(path);
  Add<SrcType>(path);

  section("SoundParam", "", "");
  Add<Volume>(path);
  Add<PanMode>(path);
  Add<PanCurve>(path);
  Add<Pan>(path);
  Add<SurroundPan>(path);
  Add<FrontBypassFlag>(path);
  Add<MainSend>(path);
  Add<FxSendA>(path);
  Add<FxSendB>(path);

  section("Effect", "", "");
  Add<AuxBusA>(path);
  Add<AuxBusB>(path);

  for (uint32_t bus = 0; bus < 2; ++bus) {
    const char* busName = bus == 0 ? "AUX_BUS_A" : "AUX_BUS_B";
    section("Effect", busName, "Reverb");
    Add<ReverbEarlyReflectionTime>(path, bus);
    Add<ReverbFusedTime>(path, bus);
    Add<ReverbPreDelayTime>(path, bus);
    Add<ReverbColoration>(path, bus);
    Add<ReverbDamping>(path, bus);
    Add<ReverbComb0>(path, bus);
    Add<ReverbComb1>(path, bus);
    Add<ReverbAllPass>(path, bus);
    Add<ReverbEarlyGain>(path, bus);
    Add<ReverbFusedGain>(path, bus);
    Add<ReverbIsEnableSurround>(path, bus);
    Add<ReverbUseHpfDamping>(path, bus);
    section("Effect", busName, "Delay");
    Add<DelayDelayTime>(path, bus);
    Add<DelayFeedbackGain>(path, bus);
    Add<DelayDamping>(path, bus);
    Add<DelayIsEnableSurround>(path, bus);
  }

  section("Analyzer", "", "");
  Add<AnalyzerWave>(path);
  Add<AnalyzerAxis>(path);
  Add<AnalyzerCurrent>(path);
  Add<AnalyzerAmplificationRange>(path);
  Add<AnalyzerMinDecibel>(path);
  Add<AnalyzerView>(path);
  Add<AnalyzerWindowFunction>(path);
  Add<AnalyzerSampleUnit>(path);
  Add<AnalyzerAggregate>(path);
  Add<AnalyzerBackground>(path);

  section("Filter", "", "");
  Add<LowPassFilter>(path);
  Add<BiquadType>(path);
  m_filterItems[0] = Add<BiquadValue>(path);
  Add<VisibleFilterResponse>(path);
  m_filterItems[1] = Add<FilterF0>(path);
  m_filterItems[2] = Add<FilterGain>(path);
  m_filterItems[3] = Add<FilterQ>(path);

  for (int32_t i = 0; i < m_count; ++i) m_items[i]->SetRecord(&m_record);
  ResetToDefaults(true);
  m_record.streamToken = 0;
  m_record.inputRate = 0;
}

SoundConfig::~SoundConfig() {
  for (auto& item : m_items) item.reset();
}

void SoundConfig::ResetToDefaults(bool store) {
  ScopedMutex lock(m_lock);
  for (int32_t i = 0; i < m_count; ++i) m_items[i]->SetValueUnchecked(m_items[i]->GetDefault());
  if (store) StoreAll();
}

void SoundConfig::StoreAll() {
  for (int32_t i = 0; i < m_count; ++i) m_items[i]->StoreToRecord();
}

SoundConfigItem* SoundConfig::GetItem(int32_t index) const {
  return index >= 0 && index < m_count ? m_items[index].get() : nullptr;
}

ConfigSnapshot SoundConfig::TakeSnapshot() {
  ScopedMutex lock(m_lock);
  return ConfigSnapshot{m_record.samplingRate, m_record.waveFormat};
}

bool SoundConfig::IsItemEnabled(int32_t index) {
  ScopedMutex lock(m_lock);
  const SoundConfigItem* item = GetItem(index);
  if (item == nullptr) return false;
  const uint32_t type = m_record.biquadType;
  if (item == m_filterItems[0]) return BiquadType::TakesValue(type);
  for (int i = 1; i < 4; ++i) {
    if (item == m_filterItems[i]) return BiquadType::TakesParameters(type);
  }
  return true;
}

void SoundConfig::Apply(const ConfigSnapshot& snapshot) {
  ScopedMutex lock(m_lock);
  AutoSave();
  if (m_record.samplingRate != snapshot.samplingRate || m_record.waveFormat != snapshot.waveFormat) {
    if (m_capture != nullptr) m_capture->StopCapture();
  }
  if (m_channel != nullptr && m_channel->IsConnected()) SendToDevice();
}

void SoundConfig::ApplyReceived(const void* payload, int32_t size) {
  if (payload == nullptr || size != static_cast<int32_t>(SOUND_CONFIG_SIZE)) {
    Log("ApplyReceived: a CONFIG payload of %d bytes is not a settings record; ignored\n", static_cast<int>(size));
    return;
  }
  ScopedMutex lock(m_lock);
  uint8_t bytes[SOUND_CONFIG_SIZE];
  memcpy(bytes, payload, SOUND_CONFIG_SIZE);
  SoundConfigData received;
  UnpackRecord(bytes, received);
  // The PC alone decides these.
  received.streamToken = m_record.streamToken;
  received.displayMode = m_record.displayMode;
  received.samplingRate = m_record.samplingRate;
  received.waveFormat = m_record.waveFormat;
  m_record.inputRate = received.inputRate;
  // Item by item: a value the item cannot hold (a device program's fault, a
  // damaged record) is not applied, shown or saved.
  for (int32_t i = 0; i < m_count; ++i) {
    std::string refused;
    if (!m_items[i]->TakeReceived(received, &refused)) {
      Log("ApplyReceived: %s %s is out of its range; it stays %s\n", m_items[i]->GetKey().c_str(), refused.c_str(),
          m_items[i]->GetValue().c_str());
    }
  }
  AutoSave();
  if (m_view != nullptr) m_view->RefreshControls();
}

bool SoundConfig::SendToDevice() {
  ScopedMutex lock(m_lock);
  m_record.inputRate = m_capture != nullptr ? m_capture->GetInputRate() : 0;
  if (m_channel == nullptr) return false;
  uint8_t bytes[SOUND_CONFIG_SIZE];
  PackRecord(m_record, bytes);
  return m_channel->Write(PacketChannel::CONFIG, bytes, static_cast<int32_t>(SOUND_CONFIG_SIZE));
}

void SoundConfig::NewStreamToken() {
  ScopedMutex lock(m_lock);
  uint32_t t = m_clock->SecondsSince1970();
  // Within one second (or with a clock that went back) the next token follows
  // the current one, so that no token of this run comes twice.
  if (m_record.streamToken != 0 && t <= m_record.streamToken) t = m_record.streamToken + 1;
  if (t == 0) t = 1;
  m_record.streamToken = t;
}

void SoundConfig::RestoreAutoSave() {
  ScopedMutex lock(m_lock);
  const std::string resolved = ResolvePath(AUTOSAVE_FILE);
  const std::string shown = platform::PathToDisplay(resolved);
  std::string why;
  switch (Load(AUTOSAVE_FILE, true, &why)) {
    case LoadResult::LOADED:
    case LoadResult::MISSING:
      break;
    case LoadResult::UNREADABLE:
      // Locked by another program, no access, an offline placeholder: the
      // user's settings are in it. Never written over with the defaults.
      m_autoSaveHeld = true;
      m_notice = ConfigNotice::AUTOSAVE_UNREAD;
      Log("RestoreAutoSave: %s exists but %s; the settings are the defaults and it is not saved over until it has "
          "been loaded or saved explicitly\n",
          shown.c_str(), why.c_str());
      return;
    case LoadResult::NOT_SETTINGS: {
      // Kept for the user to look at; the previous good copy, if any, is
      // taken instead of the defaults.
      const std::string kept = resolved + AUTOSAVE_BAD_SUFFIX;
      if (platform::RenameOver(resolved.c_str(), kept.c_str())) {
        Log("RestoreAutoSave: %s: %s; kept as %s\n", shown.c_str(), why.c_str(), platform::PathToDisplay(kept).c_str());
      } else {
        Log("RestoreAutoSave: %s: %s, and it cannot be kept as %s\n", shown.c_str(), why.c_str(),
            platform::PathToDisplay(kept).c_str());
      }
      const std::string backup = resolved + AUTOSAVE_BACKUP_SUFFIX;
      if (platform::PathExists(backup.c_str())) {
        if (Load(backup, true) == LoadResult::LOADED) {
          Log("RestoreAutoSave: the previous copy %s is used\n", platform::PathToDisplay(backup).c_str());
        } else {
          Log("RestoreAutoSave: the previous copy %s cannot be used either; the settings are the defaults\n",
              platform::PathToDisplay(backup).c_str());
        }
      }
      break;
    }
  }
  AutoSave();
}

bool SoundConfig::IsAutoSaveHeld() {
  ScopedMutex lock(m_lock);
  return m_autoSaveHeld;
}

ConfigNotice SoundConfig::TakeNotice() {
  ScopedMutex lock(m_lock);
  const ConfigNotice notice = m_notice;
  m_notice = ConfigNotice::NONE;
  return notice;
}

void SoundConfig::ApplyDefaults() {
  ScopedMutex lock(m_lock);
  ConfigSnapshot snapshot = TakeSnapshot();
  ResetToDefaults(true);
  if (m_view != nullptr) m_view->RefreshControls();
  Apply(snapshot);
}

bool SoundConfig::LoadAndApply(const std::string& path) {
  ScopedMutex lock(m_lock);
  ConfigSnapshot snapshot = TakeSnapshot();
  if (!LoadFile(path, false)) return false;
  Apply(snapshot);
  return true;
}

SoundConfigData SoundConfig::GetRecord() {
  ScopedMutex lock(m_lock);
  return m_record;
}

int32_t SoundConfig::GetSamplingRate() {
  ScopedMutex lock(m_lock);
  return m_record.samplingRate;
}

uint32_t SoundConfig::GetWaveFormat() {
  ScopedMutex lock(m_lock);
  return m_record.waveFormat;
}

std::string SoundConfig::ResolvePath(const std::string& path) const {
  if (m_programFolder.empty()) return MakeAbsolute(path);
  if (!platform::IsRelativePath(path.c_str())) return path;
  return m_programFolder + path;
}
