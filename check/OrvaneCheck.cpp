#include "check/OrvaneCheck.h"
// placeholder until built
TCheckSystem RunningSystem() { return {&SystemConfigFileSystem(), &SystemTableSource(), &SystemProcessSource()}; }
TOrvaneCheck::TOrvaneCheck(const TCheckSystem& S) : TOrvane(*S.Files), Tables(*S.Tables), Processes(*S.Processes) {}
void TOrvaneCheck::LoadPorts() {}
void TOrvaneCheck::Run() {}
