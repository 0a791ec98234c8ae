// A stand-in for the mail server's processes and their peers, for the
// end-to-end tests, the demonstration and the benchmark. Started through a
// link named "Orvane.exe" (or "Lumicourt.exe", "Helmstead.exe") it is seen by
// the check as that process. It listens and connects as told, holds every
// connection open, and ends when its standard input closes.
//
//   orvane_stand_in [--listen ADDR:PORT]... [--listen6only ADDR:PORT]...
//                   [--connect ADDR:PORT[*COUNT]]...
//
// ADDR is an IPv4 address, or an IPv6 address in brackets ("[::]:25",
// "[::1]:25"); a "[::]" listener also takes IPv4 clients unless it is given
// as --listen6only. Once every listener is up and every connection is
// established, it writes "ready" and a line break to standard output; after
// that, "accepted N" each time its count of accepted connections has grown
// (a connection that waits in the listen queue belongs to no process yet).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "orvane_stand_in: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

struct Endpoint {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  long Count = 1;
};

Endpoint ParseEndpoint(const std::string& text) {
  Endpoint e;
  std::string endpoint = text;
  auto star = endpoint.rfind('*');
  if (star != std::string::npos) {
    e.Count = std::atol(endpoint.c_str() + star + 1);
    endpoint.resize(star);
  }
  auto colon = endpoint.rfind(':');
  if (colon == std::string::npos) {
    errno = EINVAL;
    Fail("no port in " + text);
  }
  std::string host = endpoint.substr(0, colon);
  int port = std::atoi(endpoint.c_str() + colon + 1);
  if (!host.empty() && host.front() == '[') {
    host = host.substr(1, host.size() - 2);
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&e.Address);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(uint16_t(port));
    if (inet_pton(AF_INET6, host.c_str(), &a6->sin6_addr) != 1) Fail("bad address " + text);
    e.Length = sizeof(sockaddr_in6);
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&e.Address);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &a4->sin_addr) != 1) Fail("bad address " + text);
    e.Length = sizeof(sockaddr_in);
  }
  return e;
}

void Watch(int epoll, int fd) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = fd;
  if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0) Fail("epoll_ctl");
}

}  // namespace

int main(int argc, char** argv) {
  // Hold as many sockets as the system lets this process have.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }

  int epoll = epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) Fail("epoll_create1");
  Watch(epoll, STDIN_FILENO);

  std::vector<int> listeners;
  std::vector<int> held;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    Endpoint e = ParseEndpoint(argv[i + 1]);
    if (option == "--listen" || option == "--listen6only") {
      int fd = socket(e.Address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) Fail("socket");
      int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      if (e.Address.ss_family == AF_INET6) {
        int only = option == "--listen6only" ? 1 : 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
      }
      if (bind(fd, reinterpret_cast<sockaddr*>(&e.Address), e.Length) != 0)
        Fail(std::string("bind ") + argv[i + 1]);
      if (listen(fd, 4096) != 0) Fail("listen");
      listeners.push_back(fd);
      Watch(epoll, fd);
    } else if (option == "--connect") {
      for (long n = 0; n < e.Count; ++n) {
        int fd = socket(e.Address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) Fail("socket");
        if (connect(fd, reinterpret_cast<sockaddr*>(&e.Address), e.Length) != 0)
          Fail(std::string("connect ") + argv[i + 1]);
        held.push_back(fd);
      }
    } else {
      errno = EINVAL;
      Fail("unknown option " + option);
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
