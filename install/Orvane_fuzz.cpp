// Fuzz target of the configuration reader: decoding a file's bytes, cutting
// them into lines, dropping blank and comment lines, and reading the service
// ports from the three files of an installation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "check/OrvaneCheck.h"
#include "testing/FakeCensus.h"
#include "common/TextCodec.h"
#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"
#include "install/Orvane.h"

namespace {

void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "fuzz: %s [%s]\n", What, Detail.c_str());
  std::abort();
}

std::string Join(const std::vector<std::string>& Lines) {
  std::string Text;
  for (size_t Index = 0; Index < Lines.size(); ++Index) {
    if (Index) Text += '\n';
    Text += Lines[Index];
  }
  return Text;
}

// Every line break as LF, without the one that ends the text.
std::string NormalBreaks(const std::string& Text) {
  std::string Normal;
  for (size_t Index = 0; Index < Text.size(); ++Index) {
    if (Text[Index] == '\r') {
      Normal += '\n';
      if (Index + 1 < Text.size() && Text[Index + 1] == '\n') ++Index;
    } else {
      Normal += Text[Index];
    }
  }
  if (!Normal.empty() && Normal.back() == '\n') Normal.pop_back();
  return Normal;
}

void CheckLines(const std::string& Bytes) {
  const std::string Text = DecodeConfigText(Bytes);
  if (Text.find('\0') != std::string::npos) Fail("NUL in decoded text", Text);
  if (SanitizeUtf8(Text) != Text) Fail("decoded text is not UTF-8", Text);

  std::vector<std::string> Lines, Kept;
  std::string_view Line;
  for (TLineCursor Cursor(Text); Cursor.Next(Line);) {
    if (Line.find_first_of("\r\n") != std::string::npos) Fail("line break inside a line", Text);
    Lines.emplace_back(Line);
    // Blank: only U+0020; a comment starts with "#" or ";" after those.
    const size_t First = Line.find_first_not_of(' ');
    const bool Dropped = First == std::string_view::npos || Line[First] == '#' || Line[First] == ';';
    if (IsBlankOrCommentLine(Line) != Dropped) Fail("blank or comment misjudged", Text);
    if (!Dropped) Kept.emplace_back(Line);
  }
  if (Join(Lines) != NormalBreaks(Text)) Fail("lines do not give the text back", Text);
  if (KeptConfigLines(Text) != Kept) Fail("wrong lines dropped", Text);
}

// The same bytes as each of the three files of an installation.
void CheckPorts(const std::string& Bytes, int32_t RetryCount, int BusyAttempts) {
  TFakeFileSystem Files;
  const std::string DataPath = "C:\\Orvane\\App\\";
  const char* Names[] = {"Orvane.ini", "..\\Lumicourt\\Lumicourt.ini", "..\\Helmstead\\Helmstead.ini"};
  for (const char* Name : Names) Files.Files[DataPath + Name] = Bytes;
  Files.BusyAttempts[DataPath + Names[1]] = BusyAttempts;
  TFakeRegistry Registry;
  TFakeSocketSource Sockets;
  TFakeProcessSource Processes;
  TOrvaneCheck Check({&Files, &Registry, &Sockets, &Processes});
  Check.DataPath = DataPath;
  Check.RetryCount = RetryCount;
  Check.RetryDelay = 7;

  bool Loaded = true;
  try {
    Check.LoadPorts();
  } catch (const std::exception& Failure) {
    if (std::string(Failure.what()) != "Can not read " + DataPath + Names[1])
      Fail("unexpected failure", Failure.what());
    Loaded = false;
  }
  const bool Readable = BusyAttempts <= (RetryCount < 0 ? 0 : RetryCount);
  if (Loaded != Readable) Fail("retries miscounted", std::to_string(BusyAttempts));
  const size_t Waits = static_cast<size_t>(Readable ? BusyAttempts : (RetryCount < 0 ? 0 : RetryCount));
  if (Files.Sleeps.size() != Waits) Fail("waits miscounted", std::to_string(Files.Sleeps.size()));

  // Ports change only where the text has their section and key.
  const std::string Text = DecodeConfigText(Bytes);
  if (Text.find("[Ports]") == std::string::npos) {
    const int32_t Defaults[] = {25, 25, 465, 110, 110, 995, 143, 993};
    const int32_t Ports[] = {Check.SmtpInPort, Check.SmtpOutPort, Check.SmtpSslPort, Check.PopInPort,
                             Check.PopOutPort, Check.PopSslPort,  Check.ImapInPort,  Check.ImapSslPort};
    for (int Index = 0; Index < 8; ++Index)
      if (Ports[Index] != Defaults[Index]) Fail("port set outside its section", Text);
  }
  if (Text.find("Port=") == std::string::npos || Text.find("[WebServer]") == std::string::npos) {
    if (Check.LumicourtPort != 3000 || Check.HelmsteadPort != 1000)
      Fail("web server port set without its key or section", Text);
  }
  if (!Loaded && (Check.HelmsteadPort != 1000 || Check.HelmsteadSslPort != 443))
    Fail("file after a failed one was read", Text);
}

}  // namespace

// The first byte sets the retries (low two bits, 3 meaning -1) and how many
// attempts the second file is held busy (next two bits); the rest is the file.
int FuzzConfigFile(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const int32_t RetryCount = (Data[0] & 3) == 3 ? -1 : Data[0] & 3;
  const int BusyAttempts = (Data[0] >> 2) & 3;
  const std::string Bytes(reinterpret_cast<const char*>(Data + 1), Size - 1);
  CheckLines(Bytes);
  CheckPorts(Bytes, RetryCount, BusyAttempts);
  return 0;
}
