// The sound settings model: the 68 items of the catalogue, the 280-byte record
// they fill, the exchange of that record with the device program, and the
// settings files. The program calls it from the main thread. Every public
// method takes the model's re-entrant lock while it works, except the
// setters, GetItem, GetCount and ResolvePath; the items that GetItem hands
// out are not locked. It knows no window: it tells its view what happened
// (ConfigView), and the view shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/PacketChannel.h"
#include "platform/Mutex.h"
#include "support/Clock.h"
#include "settings/SoundConfigData.h"
#include "settings/SoundConfigItem.h"

// What the model needs of the running capture.
class ConfigCapture {
 public:
  virtual ~ConfigCapture() = default;
  // Stops the current capture source; the idle tick starts it again with the
  // record's rate and format.
  virtual void StopCapture() = 0;
  // The current source's input sampling rate in Hz; 0 when there is none.
  virtual int32_t GetInputRate() = 0;
};

// What the model tells the user, each about one settings file.
enum class ConfigMessage {
  CANNOT_OPEN,        // the file cannot be opened or read
  NOT_SETTINGS_FILE,  // the file is not a settings file (no header, or far too large for one)
  CANNOT_SAVE,        // the file cannot be made or written
};

// What the model has to say in the level display, once.
enum class ConfigNotice {
  NONE,
  AUTOSAVE_UNREAD,  // the auto-save file exists but cannot be read: the settings are the defaults
};

// What the model needs of the user interface.
class ConfigView {
 public:
  virtual ~ConfigView() = default;
  // Tells the user message about the settings file at path (UTF-8, as the
  // model resolved it).
  virtual void Tell(ConfigMessage message, const std::string& path) = 0;
  // The values changed other than by the settings window's own boxes: shown
  // there, with which items can be set (IsItemEnabled), when that window
  // exists.
  virtual void RefreshControls() = 0;
};

// The record's rate and format before a local change, so that Apply can tell
// whether the capture must restart.
struct ConfigSnapshot {
  int32_t samplingRate;
  uint32_t waveFormat;
};

class SoundConfig {
 public:
  static constexpr int32_t ITEM_MAX = 256;
  static constexpr const char* PRODUCT_NAME = "Quillon";
  // The auto-save file, beside the program.
  static constexpr const char* AUTOSAVE_FILE = "Quillon.autogen.cfg";
  // A settings file is a few kilobytes; anything beyond this is not one.
  static constexpr int32_t FILE_SIZE_MAX = 1 << 20;

  // Where an auto-save file that is not a settings file is kept.
  static constexpr const char* AUTOSAVE_BAD_SUFFIX = ".bad";
  // The auto-save file's previous good copy, kept beside it whenever it is
  // replaced; taken at start when the file itself is empty or not a
  // settings file (a power loss, a disk error).
  static constexpr const char* AUTOSAVE_BACKUP_SUFFIX = ".bak";

  // channel: the packet channel the record is sent on (not owned; null for
  // none). adpcmLoaded: whether the wave-codec library was found; only then
  // are "ADPCM" and the "Config" display mode offered. programFolder: the
  // program's folder with its trailing separator (MakeAbsolute("")), against
  // which relative file paths are taken.
  SoundConfig(PacketChannel* channel, bool adpcmLoaded, const std::string& programFolder);
  virtual ~SoundConfig();
  SoundConfig(const SoundConfig&) = delete;
  SoundConfig& operator=(const SoundConfig&) = delete;

  // Collaborators set after construction; not owned, null for none.
  void SetCapture(ConfigCapture* capture) { m_capture = capture; }
  void SetView(ConfigView* view) { m_view = view; }
  // The clock of the record's tokens (its wall time); the system's unless
  // a test gives its own.
  void SetClock(Clock& clock) { m_clock = &clock; }

  // Every value to its default; with store, the record too.
  void ResetToDefaults(bool store);
  SoundConfigItem* GetItem(int32_t index) const;
  int32_t GetCount() const { return m_count; }

  ConfigSnapshot TakeSnapshot();
  // Whether item index can be set with the record as it is: of the four
  // filter items, only those that the record's biquadType uses; every other
  // item always.
  bool IsItemEnabled(int32_t index);

  // After a local change: auto-save, stop the capture when the rate or the
  // format changed, send the record when connected.
  void Apply(const ConfigSnapshot& snapshot);
  // A CONFIG payload from the device: taken over except streamToken,
  // displayMode, samplingRate and waveFormat, item by item, and only where
  // the value is one the item can hold (within its range, an entry of its
  // list); a value outside is logged and leaves that item as it was. Then
  // shown (RefreshControls) and auto-saved. A payload that is not exactly a record is ignored.
  void ApplyReceived(const void* payload, int32_t size);
  // Fills in the input rate and writes one CONFIG packet; the write's result.
  bool SendToDevice();
  // Gives the record a new stream token: never 0, never one given before.
  void NewStreamToken();

  // Settings files. A relative path is taken in the program's folder.
  // SaveFile is the user's own save: every failure is told to the view, and
  // the old file stays as it was.
  void SaveFile(const std::string& path);
  bool LoadFile(const std::string& path, bool quiet);
  // The text that SaveFile writes.
  std::string SaveText();
  // Reads a settings file's text; name is the path shown in messages.
  bool LoadText(const std::string& text, const std::string& name, bool quiet);

  // What the main window does with the settings:
  // at its creation: load the auto-save file quietly and write it again. One
  // that is empty or not a settings file is kept beside it with the suffix
  // AUTOSAVE_BAD_SUFFIX, and its previous copy (AUTOSAVE_BACKUP_SUFFIX) is
  // taken when there is one. One that exists but cannot be read (locked by
  // another program, no access, an offline placeholder) is never written
  // over: the settings stay the defaults, the log and the level display
  // (TakeNotice) say why once, and the auto-save waits until the file has
  // been read (loaded by the user) or the user saves over it;
  void RestoreAutoSave();
  // True while the auto-save waits so.
  bool IsAutoSaveHeld();
  // Writes the auto-save file now (unless it waits as above); at an exit
  // that cannot free the rest.
  void SaveAutoSave() { AutoSave(); }
  // A notice for the level display, handed out once; NONE for none.
  ConfigNotice TakeNotice();
  // the Default button: defaults, controls refreshed, applied;
  void ApplyDefaults();
  // the Load button and a dropped settings file: load with messages, applied
  // when the load succeeded.
  bool LoadAndApply(const std::string& path);

  // The record (a copy) and the two values the capture starts with.
  SoundConfigData GetRecord();
  int32_t GetSamplingRate();
  uint32_t GetWaveFormat();

  std::string ResolvePath(const std::string& path) const;

 private:
  template <typename Item, typename... Args>
  Item* Add(const std::string (&path)[SoundConfigItem::DEPTH_MAX], Args... args);
  enum class LoadResult { LOADED, MISSING, UNREADABLE, NOT_SETTINGS };
  // why (when given) says what went wrong, for the log.
  LoadResult Load(const std::string& path, bool quiet, std::string* why = nullptr);
  // Writes the auto-save file; a failed write is only logged.
  void AutoSave();
  void Save(const std::string& path, bool autoSave);
  // Before the auto-save file at resolved is replaced by text: its current
  // content, when it is a settings file, becomes the previous copy. False
  // when the file already holds text (nothing to write).
  bool KeepPreviousCopy(const std::string& resolved, const std::string& text);
  bool IsAutoSavePath(const std::string& resolved) const;
  void StoreAll();
  void Tell(ConfigMessage message, const std::string& path);

  PacketChannel* m_channel;  // not owned
  bool m_adpcmLoaded;
  std::string m_programFolder;
  ConfigCapture* m_capture = nullptr;  // not owned
  ConfigView* m_view = nullptr;        // not owned
  Clock* m_clock = &SystemClock();  // not owned
  Mutex m_lock;
  SoundConfigData m_record{};
  std::unique_ptr<SoundConfigItem> m_items[ITEM_MAX];  // owned; the first m_count in use
  int32_t m_count = 0;
  // BiquadValue, FilterF0, FilterGain, FilterQ; owned by m_items.
  SoundConfigItem* m_filterItems[4] = {};
  // The auto-save file could not be read at start: not written over.
  bool m_autoSaveHeld = false;
  ConfigNotice m_notice = ConfigNotice::NONE;  // for TakeNotice
  bool m_autoSaveFailureShown = false;
};
