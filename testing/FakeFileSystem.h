// An in-memory file system for tests of the configuration reader.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "install/Orvane.h"

class TFakeFileSystem : public TConfigFileSystem {
public:
  std::map<std::string, std::string> Files;      // name -> bytes
  std::map<std::string, int> BusyAttempts;       // attempts that fail before the file is free
  std::vector<std::string> Attempts;             // every attempt, in order
  std::vector<int32_t> Sleeps;                   // every wait, in order

  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    Attempts.push_back(FileName);
    auto busy = BusyAttempts.find(FileName);
    if (busy != BusyAttempts.end() && busy->second > 0) {
      --busy->second;
      return false;
    }
    auto file = Files.find(FileName);
    if (file == Files.end()) return false;
    Bytes = file->second;
    return true;
  }
  void Sleep(int32_t Milliseconds) override { Sleeps.push_back(Milliseconds); }
};
