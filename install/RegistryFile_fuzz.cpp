// Fuzz target of the registry export reader: parsing a whole file, looking
// values up in it, and turning value data into text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/ConfigText.h"
#include "common/TextCodec.h"
#include "install/RegistryFile.h"
#include "install/uTRegistryMgr.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

// RegistryValueText gives UTF-8 without NUL, or one of its two failures.
void CheckText(TRegistryQuery Result, const TRegistryValue& Value, const std::string& Name) {
  std::string Text;
  try {
    Text = RegistryValueText(Result, Value, Name);
  } catch (const std::runtime_error& Failure) {
    const std::string Message = Failure.what();
    const bool Expected =
        (Result == TRegistryQuery::Found && Message == "Invalid data type for '" + Name + "'") ||
        (Result == TRegistryQuery::ReadFailed && Message == "Failed to get data for '" + Name + "'");
    if (!Expected) Fail("unexpected failure", Message);
    return;
  }
  if (Result != TRegistryQuery::Found && !Text.empty()) Fail("text of a missing value", Text);
  if (Text.find('\0') != std::string::npos) Fail("NUL in value text", Text);
  if (SanitizeUtf8(Text) != Text) Fail("value text is not UTF-8", Text);
  if (Text.size() > 3 * Value.Data.size()) Fail("value text longer than its data allows", Text);
}

void Look(const TRegistryFile& File, const std::string& KeyPath, const std::string& Name) {
  TRegistryValue Value;
  const TRegistryQuery Result = File.Find(KeyPath, Name, Value);
  if (Result != TRegistryQuery::Found && !Value.Data.empty()) Fail("data for a missing value", KeyPath);
  CheckText(Result, Value, Name);
}

}  // namespace

int FuzzRegistryFile(const uint8_t* Data, size_t Size) {
  const std::string Bytes(reinterpret_cast<const char*>(Data), Size);
  const TRegistryFile File = TRegistryFile::Parse(Bytes);

  Look(File, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane", "AppPath");
  Look(File, "HKLM\\SOFTWARE\\WOW6432Node\\Kestrix Technologies\\Orvane", "AppPath");
  for (bool LocalMachine : {true, false}) {
    TRegistryValue Value;
    const TRegistryQuery Result =
        File.Query(LocalMachine, "SOFTWARE\\Kestrix Technologies\\Orvane", "AppPath", Value);
    CheckText(Result, Value, "AppPath");
  }
  // Every key the file names, with its default value and a value named from
  // the line itself.
  const std::string Text = DecodeConfigText(Bytes);
  std::string_view Line;
  for (TLineCursor Cursor(Text); Cursor.Next(Line);) {
    const size_t Open = Line.find('[');
    const size_t Close = Line.rfind(']');
    if (Open == std::string_view::npos || Close == std::string_view::npos || Close <= Open) continue;
    const std::string Key(Line.substr(Open + 1, Close - Open - 1));
    Look(File, Key, "");
    Look(File, Key, std::string(Line.substr(Close + 1)));
  }

  // The input itself as value data of a type taken from its length.
  TRegistryValue Raw;
  Raw.Type = static_cast<uint32_t>(Size % 6);
  Raw.Data.assign(Data, Data + Size);
  CheckText(TRegistryQuery::Found, Raw, "AppPath");
  CheckText(TRegistryQuery::ReadFailed, Raw, "AppPath");
  return 0;
}
