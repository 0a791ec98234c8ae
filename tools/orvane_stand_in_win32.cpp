// The stand-in for the mail server's processes on Windows, with the command
// line and output of the Linux build (orvane_stand_in_linux.cpp).
//
// Wine names the owner of a socket only after the owning process itself has
// made a call on it; a socket it accepted stays with Wine's server and has no
// owner. So every socket made here gets one such call (FIONREAD), and a
// connection that must be counted as the server's is made with
// --connect-from: bound to the server port, then connected out.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/StandIn.h"

namespace {

[[noreturn]] void Fail(const std::string& What) {
  std::fprintf(stderr, "orvane_stand_in: %s: error %d\n", What.c_str(), WSAGetLastError());
  std::exit(2);
}

struct TAddress {
  sockaddr_storage Storage{};
  int Length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

TAddress AddressOf(const TStandInEndpoint& Endpoint) {
  TAddress Address;
  int Ok;
  if (Endpoint.Ipv6) {
    auto* A6 = reinterpret_cast<sockaddr_in6*>(&Address.Storage);
    A6->sin6_family = AF_INET6;
    A6->sin6_port = htons(Endpoint.Port);
    Ok = inet_pton(AF_INET6, Endpoint.Host.c_str(), &A6->sin6_addr);
    Address.Length = sizeof(sockaddr_in6);
  } else {
    auto* A4 = reinterpret_cast<sockaddr_in*>(&Address.Storage);
    A4->sin_family = AF_INET;
    A4->sin_port = htons(Endpoint.Port);
    Ok = inet_pton(AF_INET, Endpoint.Host.c_str(), &A4->sin_addr);
    Address.Length = sizeof(sockaddr_in);
  }
  if (Ok != 1) Fail("bad address " + Endpoint.Host);
  return Address;
}

SOCKET Socket(const TAddress& Address, int Type) {
  const SOCKET S = socket(Address.Storage.ss_family, Type, 0);
  if (S == INVALID_SOCKET) Fail("socket");
  return S;
}

void ReuseAddress(SOCKET S) {
  const BOOL One = TRUE;
  setsockopt(S, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&One), sizeof One);
}

// The in-process call after which Wine reports this process as the owner.
void ClaimOwnership(SOCKET S) {
  u_long Pending = 0;
  ioctlsocket(S, FIONREAD, &Pending);
}

// Ends the process when its starter closes standard input.
DWORD WINAPI AwaitEndOfInput(void*) {
  const HANDLE Input = GetStdHandle(STD_INPUT_HANDLE);
  char Buffer[256];
  DWORD Got = 0;
  while (ReadFile(Input, Buffer, sizeof Buffer, &Got, nullptr) && Got > 0) {
  }
  ExitProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<TStandInStep> Steps;
  try {
    Steps = ParseStandInArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& Error) {
    std::fprintf(stderr, "orvane_stand_in: %s\n", Error.what());
    return 2;
  }
  WSADATA Data;
  if (WSAStartup(MAKEWORD(2, 2), &Data) != 0) Fail("WSAStartup");

  std::vector<SOCKET> Listeners, Held;
  for (const TStandInStep& Step : Steps) {
    const TAddress Target = AddressOf(Step.Target);
    const std::string Where = Step.Target.Text();
    switch (Step.Kind) {
      case TStandInStep::Listen:
      case TStandInStep::Listen6Only:
      case TStandInStep::ListenNoAccept: {
        const SOCKET S = Socket(Target, SOCK_STREAM);
        if (Step.Target.Ipv6) {
          const DWORD Only = Step.Kind == TStandInStep::Listen6Only ? 1 : 0;
          setsockopt(S, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&Only), sizeof Only);
        }
        if (bind(S, Target.Get(), Target.Length) != 0) Fail("bind " + Where);
        if (listen(S, SOMAXCONN) != 0) Fail("listen");
        ClaimOwnership(S);
        // Never accepted from: its clients stay queued.
        (Step.Kind == TStandInStep::ListenNoAccept ? Held : Listeners).push_back(S);
        break;
      }
      case TStandInStep::Udp: {
        const SOCKET S = Socket(Target, SOCK_DGRAM);
        if (bind(S, Target.Get(), Target.Length) != 0) Fail("bind " + Where);
        ClaimOwnership(S);
        Held.push_back(S);
        break;
      }
      case TStandInStep::ConnectPending:
        for (long N = 0; N < Step.Count; ++N) {
          const SOCKET S = Socket(Target, SOCK_STREAM);
          u_long NonBlocking = 1;
          ioctlsocket(S, FIONBIO, &NonBlocking);
          if (Step.HasFrom) {
            const TAddress From = AddressOf(Step.From);
            if (bind(S, From.Get(), From.Length) != 0) Fail("bind " + Step.From.Text());
          }
          if (connect(S, Target.Get(), Target.Length) != 0 &&
              WSAGetLastError() != WSAEWOULDBLOCK)
            Fail("connect " + Where);
          ClaimOwnership(S);
          Held.push_back(S);
        }
        break;
      case TStandInStep::ConnectSpread: {
        in_addr First{};
        if (inet_pton(AF_INET, Step.From.Host.c_str(), &First) != 1) Fail("bad address " + Step.From.Host);
        for (long N = 0; N < Step.Count; ++N) {
          const SOCKET S = Socket(Target, SOCK_STREAM);
          sockaddr_in From{};
          From.sin_family = AF_INET;
          From.sin_addr.s_addr = htonl(ntohl(First.s_addr) + static_cast<u_long>(N % Step.Sources));
          if (bind(S, reinterpret_cast<const sockaddr*>(&From), sizeof From) != 0) Fail("bind");
          if (connect(S, Target.Get(), Target.Length) != 0) Fail("connect " + Where);
          ClaimOwnership(S);
          Held.push_back(S);
        }
        break;
      }
      case TStandInStep::Connect:
      case TStandInStep::ConnectFrom:
        for (long N = 0; N < Step.Count; ++N) {
          const SOCKET S = Socket(Target, SOCK_STREAM);
          if (Step.Kind == TStandInStep::ConnectFrom) {
            const TAddress From = AddressOf(Step.From);
            ReuseAddress(S);
            if (bind(S, From.Get(), From.Length) != 0) Fail("bind " + Step.From.Text());
          }
          if (connect(S, Target.Get(), Target.Length) != 0) Fail("connect " + Where);
          ClaimOwnership(S);
          Held.push_back(S);
        }
        break;
    }
  }
  if (!CreateThread(nullptr, 0, AwaitEndOfInput, nullptr, 0, nullptr)) Fail("CreateThread");
  std::printf("ready\n");
  std::fflush(stdout);

  size_t Accepted = 0;
  for (;;) {
    if (Listeners.empty()) {
      Sleep(INFINITE);
      continue;
    }
    // select() takes at most FD_SETSIZE sockets at a time; the stand-in
    // listens on a handful.
    fd_set Ready;
    FD_ZERO(&Ready);
    for (size_t I = 0; I < Listeners.size() && I < FD_SETSIZE; ++I) FD_SET(Listeners[I], &Ready);
    if (select(0, &Ready, nullptr, nullptr, nullptr) == SOCKET_ERROR) Fail("select");
    const size_t Before = Accepted;
    for (const SOCKET Listener : Listeners) {
      if (!FD_ISSET(Listener, &Ready)) continue;
      const SOCKET Peer = accept(Listener, nullptr, nullptr);
      if (Peer == INVALID_SOCKET) continue;
      Held.push_back(Peer);
      ++Accepted;
    }
    if (Accepted != Before) {
      std::printf("accepted %u\n", static_cast<unsigned>(Accepted));
      std::fflush(stdout);
    }
  }
}
