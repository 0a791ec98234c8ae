// A registry export file, as the registry editor writes it, read into memory.
// On Linux it stands in for the registry.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "install/uTRegistryMgr.h"

class TRegistryFile {
public:
  // Parses the file's bytes: UTF-16 with its byte-order mark (as the registry
  // editor writes "Windows Registry Editor Version 5.00" files) or plain
  // ASCII/UTF-8 ("REGEDIT4", or typed by hand). Lines it cannot understand
  // are skipped; parsing never fails.
  static TRegistryFile Parse(std::string bytes);

  // The same, keeping only the keys that Query(LocalMachine, Key, ...) looks
  // at: a file of many keys then costs little more than its text.
  static TRegistryFile ParseForQuery(std::string bytes, bool LocalMachine, const std::string& Key);

  // Key paths are full ("HKEY_LOCAL_MACHINE\\SOFTWARE\\..."); key and value
  // names compare case-insensitively.
  TRegistryQuery Find(const std::string& KeyPath, const std::string& Name,
                      TRegistryValue& Value) const;

  // A value as the shipped 32-bit program sees it on a 64-bit Windows: Key is
  // relative to HKEY_LOCAL_MACHINE (LocalMachine) or HKEY_CURRENT_USER, and
  // HKEY_LOCAL_MACHINE\SOFTWARE\X is SOFTWARE\WOW6432Node\X when the file
  // holds that key, SOFTWARE\X otherwise.
  TRegistryQuery Query(bool LocalMachine, const std::string& Key, const std::string& Name,
                       TRegistryValue& Value) const;

private:
  // Keep: whether a key (its normal, lower-cased full path) is held.
  static TRegistryFile Parse(std::string bytes,
                             const std::function<bool(const std::string&)>& Keep);

  // Lower-cased key path -> (lower-cased value name -> value).
  std::map<std::string, std::map<std::string, TRegistryValue>> Keys;
};
