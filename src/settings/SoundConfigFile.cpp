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
#include "resources/resource.h"
#include "settings/ConfigToken.h"
#include "settings/SoundConfig.h"
#include "support/File.h"
#include "support/Language.h"

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

void SoundConfig::ShowError(uint32_t messageId, const std::string& path, bool foreground) {
  if (m_view == nullptr) return;
  // The path is UTF-8; the message is ANSI text.
  m_view->ShowError(FormatResourceString(messageId, platform::PathToDisplay(path).c_str()),
                    LoadResourceString(IDS_APP_NAME), foreground);
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

// The text goes to a temporary file that replaces the old one only when it
// was written whole, so that a failure never leaves a cut-off file behind.
void SoundConfig::Save(const std::string& path, bool autoSave) {
  ScopedMutex lock(m_lock);
  Log("SaveFile(%s)\n", path.c_str());
  std::string resolved = ResolvePath(path);
  std::string text = SaveText();
  // Binary, with explicit CR LF: the same bytes in every build.
  switch (WriteFileReplacing(resolved, text.data(), text.size())) {
    case FileWriteResult::OK:
      return;
    case FileWriteResult::OPEN_FAILED:
      ShowError(IDS_COULD_NOT_OPEN_SAVE, resolved, false);
      return;
    case FileWriteResult::WRITE_FAILED:
      Log("SaveFile: writing %s failed\n", resolved.c_str());
      // The auto-save runs after every change: a box each time would be a
      // flood; the log tells.
      if (!autoSave) ShowError(IDS_COULD_NOT_OPEN_SAVE, resolved, false);
      return;
  }
}

bool SoundConfig::LoadFile(const std::string& path, bool quiet) {
  return Load(path, quiet) == LoadResult::LOADED;
}

SoundConfig::LoadResult SoundConfig::Load(const std::string& path, bool quiet) {
  ScopedMutex lock(m_lock);
  Log("LoadFile(%s)\n", path.c_str());
  std::string resolved = ResolvePath(path);
  CFile file;
  if (!file.Open(resolved.c_str(), "rb")) {
    if (!quiet) ShowError(IDS_COULD_NOT_OPEN, resolved, false);
    return LoadResult::CANNOT_OPEN;
  }
  int32_t size = file.GetSize();
  if (size > FILE_SIZE_MAX) {
    // Whatever it is, it is not a settings file; do not read it into memory.
    Log("LoadFile: %s has %d bytes, more than a settings file\n", resolved.c_str(), static_cast<int>(size));
    if (!quiet) ShowError(IDS_NOT_SETTINGS_FILE, resolved, true);
    return LoadResult::NOT_SETTINGS;
  }
  std::vector<uint8_t> bytes;
  if (size < 0 || !file.ReadAll(size, bytes)) {
    Log("LoadFile: %s cannot be read\n", resolved.c_str());
    if (!quiet) ShowError(IDS_COULD_NOT_OPEN, resolved, false);
    return LoadResult::CANNOT_OPEN;
  }
  file.Close();
  return LoadText(std::string(bytes.begin(), bytes.end()), resolved, quiet) ? LoadResult::LOADED
                                                                            : LoadResult::NOT_SETTINGS;
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
    if (!quiet) ShowError(IDS_NOT_SETTINGS_FILE, name, true);
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
