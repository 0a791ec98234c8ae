// The machine's connection tables and process list on Linux: socket dumps
// from the kernel's netlink socket diagnostics (the /proc/net files where
// that is not to be had), owners from /proc/<pid>/fd, names from /proc. The
// readers they use take text, bytes or the root of a /proc tree, so that
// recorded content stands in for the machine's: TableWriter_linux.h,
// ProcNet_linux.h, SockDiag_linux.h, ProcScan_linux.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "census/GetConnections.h"
#include "census/TableWriter_linux.h"

class TLinuxTableSource : public TTableSource {
public:
  // ProcRoot: where /proc is; UseNetlink false reads the /proc/net files only.
  explicit TLinuxTableSource(std::string ProcRoot = "/proc", bool UseNetlink = true);
  bool BindExtendedTables() override;
  TTableRead ReadTable(TTableKind Kind, bool Extended, std::vector<uint8_t>& Table,
                       const std::vector<uint32_t>* Owners) override;

private:
  bool ReadFromNetlink(TTableKind Kind, TTableWriter& Out);
  const TSocketOwners& OwnersFor(const std::vector<uint32_t>* Owners);

  std::string ProcRoot;
  bool UseNetlink;
  uint32_t Sequence = 0;
  // The owners scanned for this snapshot, and for which ids.
  bool Scanned = false;
  bool ScannedAll = false;
  std::vector<uint32_t> ScannedIds;
  TSocketOwners Scan;
};

class TLinuxProcessSource : public TProcessSource {
public:
  explicit TLinuxProcessSource(std::string ProcRoot = "/proc") : ProcRoot(std::move(ProcRoot)) {}
  // Throws std::runtime_error when the list cannot be read whole.
  bool ListProcesses(std::vector<TProcessInfo>& Processes) override;
  bool ModuleExePath(uint32_t ProcessId, const std::string& ExeFile, std::string& Path) override;
  std::string HiddenProcesses() override;
  uint32_t OwnProcessId() override;

private:
  std::string ProcRoot;
};
