// Wine's own floor for the benchmark: one read of the TCP owner table into a
// buffer that is already large enough, and nothing else; with the argument
// "6", one read of the IPv6 table after it too (the check reads both).
// Prints the IPv4 rows.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

int main(int argc, char** argv) {
  const DWORD Capacity = 16u << 20;
  void* Table = std::malloc(Capacity);
  if (Table == nullptr) return 1;
  unsigned long Rows = 0;
  for (const ULONG Family : {ULONG(AF_INET), ULONG(AF_INET6)}) {
    if (Family == AF_INET6 && !(argc > 1 && std::strcmp(argv[1], "6") == 0)) break;
    DWORD Size = Capacity;
    const DWORD Result = GetExtendedTcpTable(Table, &Size, TRUE, Family, TCP_TABLE_OWNER_PID_ALL, 0);
    if (Result != NO_ERROR) {
      std::printf("error %lu\n", static_cast<unsigned long>(Result));
      return 1;
    }
    if (Family == AF_INET) Rows = static_cast<MIB_TCPTABLE_OWNER_PID*>(Table)->dwNumEntries;
  }
  std::printf("%lu\n", Rows);
  return 0;
}
