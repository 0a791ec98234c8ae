#include "install/RegistryFile.h"

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ConfigText.h"
#include "common/Digits.h"
#include "common/TextCodec.h"

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// Lower case, one backslash between names, none at the ends, and the short
// root names people type by hand spelled out.
std::string NormalKeyPath(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(AsciiLower(path.substr(start, end - start)));
    start = end + 1;
  }
  if (names.empty()) return {};
  static const char* const roots[][2] = {
      {"hklm", "hkey_local_machine"}, {"hkcu", "hkey_current_user"},
      {"hkcr", "hkey_classes_root"},  {"hku", "hkey_users"},
      {"hkcc", "hkey_current_config"},
  };
  for (const auto& root : roots)
    if (names[0] == root[0]) names[0] = root[1];
  std::string normal = names[0];
  for (size_t i = 1; i < names.size(); ++i) normal += "\\" + names[i];
  return normal;
}

// A double-quoted text at text[pos] with the escapes \\ and \"; any other
// backslash stands for itself. Leaves pos after the closing quote.
bool ParseQuoted(const std::string& text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out += text[++i];
      continue;
    }
    out += c;
  }
  return false;  // no closing quote on this line
}

// "01,ab,ff": bytes of one or two hex digits; a trailing comma is allowed.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  const std::string list = Trim(text);
  if (list.empty()) return true;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    uint32_t byte;
    if (!ParseHex(Trim(list.substr(start, end - start)), 2, byte)) return false;
    out.push_back(static_cast<uint8_t>(byte));
    start = end + 1;
  }
  return true;
}

// A value's data as written after "=": "text", dword:, hex: or hex(N):.
bool ParseData(const std::string& data, TRegistryValue& value) {
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ParseQuoted(data, pos, text) || pos != data.size()) return false;
    const std::u16string units = Utf8ToUtf16(text);
    value.Type = RegistryTypeSz;
    value.Data.clear();
    for (char16_t unit : units) {
      value.Data.push_back(static_cast<uint8_t>(unit & 0xFF));
      value.Data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    value.Data.push_back(0);  // the terminating NUL the registry stores
    value.Data.push_back(0);
    return true;
  }
  if (StartsWithIgnoringCase(data, "dword:")) {
    uint32_t number;
    if (!ParseHex(Trim(data.substr(6)), 8, number)) return false;
    value.Type = RegistryTypeDword;
    value.Data.clear();
    for (int i = 0; i < 4; ++i) value.Data.push_back(static_cast<uint8_t>(number >> (8 * i)));
    return true;
  }
  if (StartsWithIgnoringCase(data, "hex:")) {
    value.Type = RegistryTypeBinary;
    return ParseHexBytes(data.substr(4), value.Data);
  }
  if (StartsWithIgnoringCase(data, "hex(")) {
    const size_t close = data.find("):", 4);
    if (close == std::string::npos) return false;
    uint32_t type;
    if (!ParseHex(data.substr(4, close - 4), 8, type)) return false;
    value.Type = type;
    return ParseHexBytes(data.substr(close + 2), value.Data);
  }
  return false;
}

}  // namespace

TRegistryFile TRegistryFile::Parse(std::string bytes) {
  return Parse(std::move(bytes), [](const std::string&) { return true; });
}

TRegistryFile TRegistryFile::Parse(std::string bytes,
                                   const std::function<bool(const std::string&)>& Keep) {
  TRegistryFile file;
  // The lines are taken one at a time from the decoded text: a list of them
  // would cost many times the file's size.
  const std::string text = DecodeConfigText(std::move(bytes));
  TLineCursor lines(text);

  // The key the value lines belong to; none before the first key line and
  // after a broken or deleting one, so that no value lands in a wrong key.
  std::map<std::string, TRegistryValue>* key = nullptr;

  std::string_view raw;
  while (lines.Next(raw)) {
    const std::string line = Trim(std::string(raw));
    if (line.empty() || line[0] == ';') continue;

    if (line[0] == '[') {
      key = nullptr;
      if (line.back() != ']' || line.size() < 3) continue;
      const std::string inner = line.substr(1, line.size() - 2);
      if (inner[0] == '-') {
        const std::string path = NormalKeyPath(inner.substr(1));
        if (path.empty()) continue;
        // The key goes with everything below it.
        auto it = file.Keys.lower_bound(path);
        while (it != file.Keys.end() &&
               (it->first == path || it->first.compare(0, path.size() + 1, path + "\\") == 0))
          it = file.Keys.erase(it);
        continue;
      }
      const std::string path = NormalKeyPath(inner);
      // The values of a key that is not kept are skipped like those of a
      // broken key line.
      if (!path.empty() && Keep(path)) key = &file.Keys[path];
      continue;
    }
    if (key == nullptr) continue;  // the header line, or values without a key

    // "Name"=data or @=data for the key's default value.
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, name)) {
      continue;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') continue;
    std::string data = Trim(line.substr(pos + 1));

    // Long hex data runs over lines that end in a backslash. A following
    // line that starts a key or a value is not a continuation.
    if (StartsWithIgnoringCase(data, "hex")) {
      while (!data.empty() && data.back() == '\\') {
        data.pop_back();
        TLineCursor ahead = lines;
        std::string_view following;
        if (!ahead.Next(following)) break;
        const std::string next = Trim(std::string(following));
        if (!next.empty() && (next[0] == '[' || next[0] == '"' || next[0] == '@')) break;
        data += next;
        lines = ahead;
      }
    }

    const std::string valueName = AsciiLower(name);
    if (data == "-") {
      key->erase(valueName);
      continue;
    }
    TRegistryValue value;
    if (ParseData(data, value)) (*key)[valueName] = std::move(value);
  }
  return file;
}

TRegistryQuery TRegistryFile::Find(const std::string& KeyPath, const std::string& Name,
                                   TRegistryValue& Value) const {
  const auto key = Keys.find(NormalKeyPath(KeyPath));
  if (key == Keys.end()) return TRegistryQuery::KeyMissing;
  const auto value = key->second.find(AsciiLower(Name));
  if (value == key->second.end()) return TRegistryQuery::ValueMissing;
  Value = value->second;
  return TRegistryQuery::Found;
}

namespace {

// The key a query reads, and where a 32-bit program is redirected to when
// the file holds that key (empty when there is no such place).
struct TQueryPaths {
  std::string Path;
  std::string Redirected;
};

TQueryPaths QueryPathsOf(bool LocalMachine, const std::string& Key) {
  TQueryPaths paths;
  paths.Path = NormalKeyPath((LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") + Key);
  if (LocalMachine) {
    const std::string software = "hkey_local_machine\\software\\";
    const std::string wow = "wow6432node";
    if (paths.Path.compare(0, software.size(), software) == 0) {
      const std::string rest = paths.Path.substr(software.size());
      const bool alreadyThere =
          rest.compare(0, wow.size(), wow) == 0 && (rest.size() == wow.size() || rest[wow.size()] == '\\');
      if (!alreadyThere) paths.Redirected = software + wow + "\\" + rest;
    }
  }
  return paths;
}

}  // namespace

TRegistryFile TRegistryFile::ParseForQuery(std::string bytes, bool LocalMachine,
                                           const std::string& Key) {
  const TQueryPaths paths = QueryPathsOf(LocalMachine, Key);
  return Parse(std::move(bytes), [&paths](const std::string& Path) {
    return Path == paths.Path || (!paths.Redirected.empty() && Path == paths.Redirected);
  });
}

TRegistryQuery TRegistryFile::Query(bool LocalMachine, const std::string& Key,
                                    const std::string& Name, TRegistryValue& Value) const {
  const TQueryPaths paths = QueryPathsOf(LocalMachine, Key);
  if (!paths.Redirected.empty() && Keys.count(paths.Redirected) != 0)
    return Find(paths.Redirected, Name, Value);
  return Find(paths.Path, Name, Value);
}
