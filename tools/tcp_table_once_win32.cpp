// Wine's own floor for the benchmark: one read of the TCP owner table into a
// buffer that is already large enough, and nothing else. Prints the rows.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>

int main() {
  DWORD Size = 16u << 20;
  void* Table = std::malloc(Size);
  const DWORD Result = Table ? GetExtendedTcpTable(Table, &Size, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0)
                             : DWORD(ERROR_NOT_ENOUGH_MEMORY);
  if (Result != NO_ERROR) {
    std::printf("error %lu\n", static_cast<unsigned long>(Result));
    return 1;
  }
  std::printf("%lu\n", static_cast<unsigned long>(static_cast<MIB_TCPTABLE_OWNER_PID*>(Table)->dwNumEntries));
  return 0;
}
