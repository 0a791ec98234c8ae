// A stand-in for the mail server's processes and their peers, for the
// end-to-end tests, the demonstration and the benchmark. Started through a
// link or copy named "Orvane.exe" (or "Lumicourt.exe", "Helmstead.exe") it is
// seen by the check as that process. It listens and connects as told, holds
// every connection open, and ends when its standard input closes.
//
//   orvane_stand_in [--listen ADDR:PORT]... [--listen6only ADDR:PORT]...
//                   [--listen-no-accept ADDR:PORT]...
//                   [--connect ADDR:PORT[*COUNT]]...
//                   [--connect-pending [ADDR:PORT,]ADDR:PORT[*COUNT]]...
//                   [--connect-spread FIRST+SOURCES,ADDR:PORT[*COUNT]]...
//                   [--connect-from ADDR:PORT,ADDR:PORT]... [--udp ADDR:PORT]...
//
// ADDR is an IPv4 address, or an IPv6 address in brackets ("[::]:25",
// "[::1]:25"); a "[::]" listener also takes IPv4 clients unless it is given
// as --listen6only. --listen-no-accept listens and never accepts: its
// clients wait in the listen queue, held by no process. --connect-pending
// starts connections (from the first endpoint, when given) without waiting
// for them: where the answers are dropped they stay SYN_SENT, and their
// server's ends half-open. --connect-spread makes its connections in turn
// from SOURCES consecutive IPv4 addresses, FIRST the first (127.1.0.1+100).
// --connect-from binds the first endpoint
// (reusing the address, so several connections may share a local port) and
// connects to the second: a connection whose local end is a server port
// without an accept. --udp binds a datagram socket. Once every listener is
// up and every connection is established (or started), it writes "ready"
// and a line break to standard output; after that, "accepted N" each time
// its count of accepted connections has grown (a connection that waits in
// the listen queue belongs to no process yet).
//
// Nothing it holds is ever read or closed before it ends: a connection whose
// peer has closed its end stays in CLOSE_WAIT, as with a server that does
// not close after the client's FIN.
//
// The Windows build (orvane_stand_in_win32.cpp) takes the same command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/StandIn.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "orvane_stand_in: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

struct TAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

TAddress AddressOf(const TStandInEndpoint& e) {
  TAddress a;
  if (e.Ipv6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&a.Storage);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(e.Port);
    if (inet_pton(AF_INET6, e.Host.c_str(), &a6->sin6_addr) != 1) Fail("bad address " + e.Host);
    a.Length = sizeof(sockaddr_in6);
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a.Storage);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(e.Port);
    if (inet_pton(AF_INET, e.Host.c_str(), &a4->sin_addr) != 1) Fail("bad address " + e.Host);
    a.Length = sizeof(sockaddr_in);
  }
  return a;
}

int Socket(const TAddress& a, int type) {
  int fd = socket(a.Storage.ss_family, type | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  return fd;
}

void ReuseAddress(int fd) {
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

void Watch(int epoll, int fd) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = fd;
  if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0) Fail("epoll_ctl");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<TStandInStep> steps;
  try {
    steps = ParseStandInArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    errno = EINVAL;
    Fail(e.what());
  }

  // Hold as many sockets as the system lets this process have.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }

  int epoll = epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) Fail("epoll_create1");
  Watch(epoll, STDIN_FILENO);

  std::vector<int> held;
  for (const TStandInStep& step : steps) {
    const TAddress target = AddressOf(step.Target);
    const std::string where = step.Target.Text();
    switch (step.Kind) {
      case TStandInStep::Listen:
      case TStandInStep::Listen6Only:
      case TStandInStep::ListenNoAccept: {
        int fd = Socket(target, SOCK_STREAM | SOCK_NONBLOCK);
        ReuseAddress(fd);
        if (step.Target.Ipv6) {
          int only = step.Kind == TStandInStep::Listen6Only ? 1 : 0;
          setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
        }
        if (bind(fd, target.Get(), target.Length) != 0) Fail("bind " + where);
        if (listen(fd, 4096) != 0) Fail("listen");
        // Never watched, never accepted from: its clients stay queued.
        if (step.Kind == TStandInStep::ListenNoAccept) held.push_back(fd);
        else Watch(epoll, fd);
        break;
      }
      case TStandInStep::Udp: {
        int fd = Socket(target, SOCK_DGRAM);
        if (bind(fd, target.Get(), target.Length) != 0) Fail("bind " + where);
        held.push_back(fd);
        break;
      }
      case TStandInStep::ConnectPending:
        for (long n = 0; n < step.Count; ++n) {
          int fd = Socket(target, SOCK_STREAM | SOCK_NONBLOCK);
          if (step.HasFrom) {
            const TAddress from = AddressOf(step.From);
            if (bind(fd, from.Get(), from.Length) != 0) Fail("bind " + step.From.Text());
          }
          if (connect(fd, target.Get(), target.Length) != 0 && errno != EINPROGRESS)
            Fail("connect " + where);
          held.push_back(fd);
        }
        break;
      case TStandInStep::ConnectSpread: {
        in_addr first{};
        if (inet_pton(AF_INET, step.From.Host.c_str(), &first) != 1) Fail("bad address " + step.From.Host);
        for (long n = 0; n < step.Count; ++n) {
          int fd = Socket(target, SOCK_STREAM);
          sockaddr_in from{};
          from.sin_family = AF_INET;
          from.sin_addr.s_addr = htonl(ntohl(first.s_addr) + uint32_t(n % step.Sources));
          // The local port is chosen at connect, per destination: one address
          // may hold more connections than there are ports.
          int one = 1;
          setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
          if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) Fail("bind");
          if (connect(fd, target.Get(), target.Length) != 0) Fail("connect " + where);
          held.push_back(fd);
        }
        break;
      }
      case TStandInStep::Connect:
      case TStandInStep::ConnectFrom:
        for (long n = 0; n < step.Count; ++n) {
          int fd = Socket(target, SOCK_STREAM);
          if (step.Kind == TStandInStep::ConnectFrom) {
            const TAddress from = AddressOf(step.From);
            ReuseAddress(fd);
            if (bind(fd, from.Get(), from.Length) != 0) Fail("bind " + step.From.Text());
          }
          if (connect(fd, target.Get(), target.Length) != 0) Fail("connect " + where);
          held.push_back(fd);
        }
        break;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);

  std::vector<epoll_event> events(64);
  size_t accepted = 0;
  for (;;) {
    int n = epoll_wait(epoll, events.data(), int(events.size()), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("epoll_wait");
    }
    size_t before = accepted;
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == STDIN_FILENO) {
        char buffer[256];
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) return 0;  // the starter has gone: end with it
        continue;
      }
      for (;;) {
        int peer = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) break;
        held.push_back(peer);
        ++accepted;
      }
    }
    if (accepted != before) {
      std::printf("accepted %zu\n", accepted);
      std::fflush(stdout);
    }
  }
}
