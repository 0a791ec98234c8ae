// The records of the program's "-v -v" dump, for end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

// Eight fields per record, each closed by "|".
inline std::vector<std::vector<std::string>> DumpRecords(const std::string& Dump) {
  std::vector<std::vector<std::string>> Records;
  std::vector<std::string> Fields;
  std::string Field;
  for (char Ch : Dump) {
    if (Ch != '|') {
      Field += Ch;
      continue;
    }
    Fields.push_back(Field);
    Field.clear();
    if (Fields.size() == 8) Records.push_back(std::move(Fields)), Fields.clear();
  }
  EXPECT_TRUE(Fields.empty() && Field.empty()) << "a record was cut short: " << Dump;
  return Records;
}
