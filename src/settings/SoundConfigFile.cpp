// Settings files: the writer and the reader of SoundConfig.
//
// Layout: the header line "Quillon"; section lines of one to four "*" and a
// name; key lines "Key:" with the value at column 28, and a comment from
// column 48 on with the default, the range and the note. Lines end in CR LF on
// disk in every build; the reader takes LF, CR LF and a last line without end,
// and skips a UTF-8 byte-order mark before the header.
#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "settings/ConfigToken.h"
#include "settings/SoundConfig.h"
#include "support/File.h"

namespace {
const char* const LINE_END = "\r\n";
const char UTF8_BOM[] = "\xEF\xBB\xBF";
constexpr size_t VALUE_COLUMN = 28;
constexpr size_t VALUE_WIDTH = 20;
constexpr size_t DEFAULT_WIDTH = 7;

void PadTo(std::string& text, size_t from, size_t width) {
  size_t used = text.size() - from;
  if (used < width) text.append(width - used, ' ');
}

// The next line of text from *position: up to and including the next LF, or
// the rest of the text. False at the end.
bool NextLine(const std::string& text, size_t* position, std::string* line) {
  if (*position >= text.size()) return false;
  size_t end = text.find('\n', *position);
  end = end == std::string::npos ? text.size() : end + 1;
  line->assign(text, *position, end - *position);
  *position = end;
  return true;
}

std::string JoinTokens(const CToken& tokens, size_t from, size_t to) {
  std::string joined;
  for (size_t i = from; i < to; ++i) {
    if (i > from) joined += ' ';
    joined += tokens.Get(i);
  }
  return joined;
}
}  // namespace

void SoundConfig::Tell(ConfigMessage message, const std::string& path) {
  if (m_view != nullptr) m_view->Tell(message, path);
}

std::string SoundConfig::SaveText() {
  ScopedMutex lock(m_lock);
  std::string out = PRODUCT_NAME;
  out += LINE_END;
  std::string previous[SoundConfigItem::DEPTH_MAX];
  for (int32_t i = 0; i < m_count; ++i) {
    const SoundConfigItem& item = *m_items[i];
    if (!item.HasPath(previous)) {
      bool same = true;
      for (size_t level = 0; level < SoundConfigItem::DEPTH_MAX; ++level) {
        const std::string& name = item.GetPath(level);
        if (name.empty()) break;
        if (same && name == previous[level]) continue;
        same = false;
        if (level == 0) out += LINE_END;
        out.append(level + 1, '*');
        out += name;
        out += LINE_END;
      }
      for (size_t level = 0; level < SoundConfigItem::DEPTH_MAX; ++level) previous[level] = item.GetPath(level);
    }

    size_t start = out.size();
    out += item.GetKey();
    out += ':';
    PadTo(out, start, VALUE_COLUMN);
    size_t valueStart = out.size();
    out += item.GetValue();
    std::string defaultText = item.GetDefault();
    std::string range = item.GetRange();
    std::string note = item.GetNote();
    if (!defaultText.empty() || !range.empty() || !note.empty()) {
      PadTo(out, valueStart, VALUE_WIDTH);
      out += "// ";
      size_t defaultStart = out.size();
      out += defaultText;
      if (!defaultText.empty() && (!range.empty() || !note.empty())) PadTo(out, defaultStart, DEFAULT_WIDTH);
      out += range;
      if (!range.empty() && !note.empty()) out += ' ';
      out += note;
    }
    out += LINE_END;
  }
  return out;
}

void SoundConfig::SaveFile(const std::string& path) {
  Save(path, false);
}

void SoundConfig::AutoSave() {
  Save(AUTOSAVE_FILE, true);
}

// The text goes to a temporary file that is flushed to the disk and then
// replaces the old one (write-through), so that neither a failure nor a power
// loss ever leaves a cut-off or empty file behind. The auto-save file's
// previous good copy is kept beside it.
void SoundConfig::Save(const std::string& path, bool autoSave) {
  ScopedMutex lock(m_lock);
  Log("SaveFile(%s)\n", platform::PathToDisplay(path).c_str());
  // A file that could not be read at start is not written over by itself.
  if (autoSave && m_autoSaveHeld) return;
  const std::string resolved = ResolvePath(path);
  const std::string shown = platform::PathToDisplay(resolved);
  const std::string text = SaveText();
  const bool autoSaveFile = IsAutoSavePath(resolved);
  if (autoSaveFile && !KeepPreviousCopy(resolved, text)) {
    m_autoSaveHeld = false;
    return;
  }
  // Binary, with explicit CR LF: the same bytes in every build.
  switch (WriteFileReplacing(resolved, text.data(), text.size())) {
    case FileWriteResult::OK:
      // Saved over by the user: the auto-save may go on.
      if (autoSaveFile) m_autoSaveHeld = false;
      return;
    case FileWriteResult::OPEN_FAILED:
      Log("SaveFile: %s cannot be made\n", shown.c_str());
      // The auto-save says so once (a folder that cannot be written to
      // fails every time), the user's own save every time.
      if (!autoSave || !m_autoSaveFailureShown) Tell(ConfigMessage::CANNOT_SAVE, resolved);
      if (autoSave) m_autoSaveFailureShown = true;
      return;
    case FileWriteResult::WRITE_FAILED:
      Log("SaveFile: writing %s failed\n", shown.c_str());
      // The auto-save runs after every change: a box each time would be a
      // flood; the log tells.
      if (!autoSave) Tell(ConfigMessage::CANNOT_SAVE, resolved);
      return;
  }
}

bool SoundConfig::KeepPreviousCopy(const std::string& resolved, const std::string& text) {
  CFile file;
  if (!file.Open(resolved.c_str(), "rb")) return true;
  const int32_t size = file.GetSize();
  std::vector<uint8_t> bytes;
  if (size < 0 || size > FILE_SIZE_MAX || !file.ReadAll(size, bytes)) return true;
  file.Close();
  const std::string current(bytes.begin(), bytes.end());
  if (current == text) return false;
  // Only a settings file is worth keeping: an empty or damaged one would
  // replace the good copy that start-up falls back to.
  std::string first = current.substr(0, current.find('\n'));
  if (first.compare(0, sizeof UTF8_BOM - 1, UTF8_BOM) == 0) first.erase(0, sizeof UTF8_BOM - 1);
  if (first.compare(0, strlen(PRODUCT_NAME), PRODUCT_NAME) != 0) return true;
  const std::string backup = resolved + AUTOSAVE_BACKUP_SUFFIX;
  if (WriteFileReplacing(backup, current.data(), current.size()) != FileWriteResult::OK) {
    Log("SaveFile: the previous copy %s cannot be written\n", platform::PathToDisplay(backup).c_str());
  }
  return true;
}

bool SoundConfig::IsAutoSavePath(const std::string& resolved) const {
  return platform::SamePath(resolved, ResolvePath(AUTOSAVE_FILE));
}

bool SoundConfig::LoadFile(const std::string& path, bool quiet) {
  ScopedMutex lock(m_lock);
  if (Load(path, quiet) != LoadResult::LOADED) return false;
  // Read at last: the auto-save may write it again.
  if (IsAutoSavePath(ResolvePath(path))) m_autoSaveHeld = false;
  return true;
}

SoundConfig::LoadResult SoundConfig::Load(const std::string& path, bool quiet, std::string* why) {
  ScopedMutex lock(m_lock);
  Log("LoadFile(%s)\n", platform::PathToDisplay(path).c_str());
  const std::string resolved = ResolvePath(path);
  const std::string shown = platform::PathToDisplay(resolved);
  CFile file;
  bool missing = false;
  if (!file.Open(resolved.c_str(), "rb", &missing)) {
    if (why != nullptr) *why = missing ? "it does not exist" : "it cannot be opened";
    if (!quiet) Tell(ConfigMessage::CANNOT_OPEN, resolved);
    return missing ? LoadResult::MISSING : LoadResult::UNREADABLE;
  }
  int32_t size = file.GetSize();
  if (size > FILE_SIZE_MAX) {
    // Whatever it is, it is not a settings file; do not read it into memory.
    Log("LoadFile: %s has %d bytes, more than a settings file\n", shown.c_str(), static_cast<int>(size));
    if (why != nullptr) *why = "it is far larger than a settings file";
    if (!quiet) Tell(ConfigMessage::NOT_SETTINGS_FILE, resolved);
    return LoadResult::NOT_SETTINGS;
  }
  std::vector<uint8_t> bytes;
  if (size < 0 || !file.ReadAll(size, bytes)) {
    Log("LoadFile: %s cannot be read\n", shown.c_str());
    if (why != nullptr) *why = "it cannot be read";
    if (!quiet) Tell(ConfigMessage::CANNOT_OPEN, resolved);
    return LoadResult::UNREADABLE;
  }
  file.Close();
  if (LoadText(std::string(bytes.begin(), bytes.end()), resolved, quiet)) return LoadResult::LOADED;
  if (why != nullptr) *why = bytes.empty() ? "it is empty" : "it is not a settings file";
  return LoadResult::NOT_SETTINGS;
}

bool SoundConfig::LoadText(const std::string& fileText, const std::string& name, bool quiet) {
  ScopedMutex lock(m_lock);
  // The text ends at its first NUL, as a C string would.
  std::string text = fileText.substr(0, fileText.find('\0'));
  // Editors that save UTF-8 may put a byte-order mark before the header.
  if (text.compare(0, sizeof UTF8_BOM - 1, UTF8_BOM) == 0) text.erase(0, sizeof UTF8_BOM - 1);
  size_t position = 0;
  std::string line;
  if (!NextLine(text, &position, &line) || line.compare(0, strlen(PRODUCT_NAME), PRODUCT_NAME) != 0) {
    if (!quiet) Tell(ConfigMessage::NOT_SETTINGS_FILE, name);
    return false;
  }

  ResetToDefaults(false);
  std::vector<std::string> keys;
  keys.reserve(static_cast<size_t>(m_count));
  for (int32_t i = 0; i < m_count; ++i) keys.push_back(m_items[i]->GetKey());
  std::string path[SoundConfigItem::DEPTH_MAX];
  CConfigToken tokens;
  while (NextLine(text, &position, &line)) {
    size_t comment = line.find("//");
    if (comment != std::string::npos) line.resize(comment);
    tokens.SetLine(line);
    size_t count = tokens.GetCount();
    if (count == 0) continue;

    size_t stars = 0;
    while (stars < count && tokens.Get(stars) == "*") ++stars;
    if (stars > 0) {
      // A section line: k stars set level k - 1 and clear the deeper ones.
      if (stars < count && stars <= SoundConfigItem::DEPTH_MAX) {
        path[stars - 1] = tokens.Get(stars);
        for (size_t level = stars; level < SoundConfigItem::DEPTH_MAX; ++level) path[level].clear();
      }
      continue;
    }

    size_t colon = 0;
    while (colon < count && tokens.Get(colon) != ":") ++colon;
    if (colon == 0 || colon + 1 >= count) continue;
    std::string key = JoinTokens(tokens, 0, colon);
    std::string value = JoinTokens(tokens, colon + 1, count);
    for (int32_t i = 0; i < m_count; ++i) {
      if (keys[static_cast<size_t>(i)] == key && m_items[i]->HasPath(path)) {
        m_items[i]->SetText(value);
        break;
      }
    }
  }

  StoreAll();
  if (m_view != nullptr) m_view->RefreshControls();
  return true;
}
