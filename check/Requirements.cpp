#include "check/Requirements.h"

#include "common/TextCodec.h"

const TListenerCategory ListenerCategories[10] = {
    {SMTPin, 0, &TOrvaneCheck::SmtpInPort},       {SMTPSSL, 0, &TOrvaneCheck::SmtpSslPort},
    {POPin, 0, &TOrvaneCheck::PopInPort},         {POPSSL, 0, &TOrvaneCheck::PopSslPort},
    {IMAPin, 0, &TOrvaneCheck::ImapInPort},       {IMAPSSL, 0, &TOrvaneCheck::ImapSslPort},
    {LCin, 1, &TOrvaneCheck::LumicourtPort},      {LCSSL, 1, &TOrvaneCheck::LumicourtSslPort},
    {HSin, 2, &TOrvaneCheck::HelmsteadPort},      {HSSSL, 2, &TOrvaneCheck::HelmsteadSslPort},
};

int ServerIndex(const std::string& Name) {
  std::string Wanted = AsciiUpper(Name);
  if (Wanted.size() < 4 || Wanted.compare(Wanted.size() - 4, 4, ".EXE") != 0) Wanted += ".EXE";
  for (int Index = 0; Index < 3; ++Index)
    if (AsciiUpper(ServerNames[Index]) == Wanted) return Index;
  return -1;
}

const TListenerCategory* FindListenerCategory(const std::string& Name) {
  for (const TListenerCategory& Listener : ListenerCategories)
    if (AsciiUpper(Categories[Listener.Category]->Name) == AsciiUpper(Name)) return &Listener;
  return nullptr;
}

bool IsListening(const TOrvaneCheck& Check, const TListenerCategory& Listener) {
  const uint32_t Owner = Check.ServerIds[Listener.Server];
  // A process that is not running owns nothing, not even the rows of unknown
  // owners (id 0).
  if (Owner == 0) return false;
  for (const TListEntry& Entry : Check.ConnectionList)
    if (Entry.Protocol == 0 && Entry.State == TcpStateListening && Entry.ProcessId == Owner &&
        Entry.LocalPort == Check.*Listener.Port)
      return true;
  return false;
}
