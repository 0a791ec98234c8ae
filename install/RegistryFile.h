// A registry export file, as the registry editor writes it, read into memory.
// On Linux it stands in for the registry.
#pragma once

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
  static TRegistryFile Parse(const std::string& bytes);

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
  // Lower-cased key path -> (lower-cased value name -> value).
  std::map<std::string, std::map<std::string, TRegistryValue>> Keys;
};

// Where the Linux build finds its registry file: $ORVANE_REGISTRY_FILE, else
// /etc/nagios_orvane_check/registry.reg.
std::string RegistryFilePath();
