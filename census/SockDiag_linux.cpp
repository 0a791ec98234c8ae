#include "census/SockDiag_linux.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

std::vector<uint8_t> BuildDiagRequest(uint8_t Family, uint8_t Protocol, uint32_t Sequence) {
  struct {
    nlmsghdr Header;
    inet_diag_req_v2 Request;
  } message;
  std::memset(&message, 0, sizeof message);
  message.Header.nlmsg_len = sizeof message;
  message.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.Header.nlmsg_seq = Sequence;
  message.Request.sdiag_family = Family;
  message.Request.sdiag_protocol = Protocol;
  message.Request.idiag_states = ~0u;  // every state
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&message);
  return std::vector<uint8_t>(bytes, bytes + sizeof message);
}

TDiagResult ParseDiagMessages(const uint8_t* Data, size_t Size, uint32_t Sequence,
                              uint8_t Family, bool Tcp, TKernelSockets& Out) {
  TDiagResult result;
  if (Data == nullptr) return result;
  size_t offset = 0;
  while (Size - offset >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    std::memcpy(&header, Data + offset, sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > Size - offset) {
      result.Status = TDiagResult::Failed;
      result.Error = EPROTO;
      return result;
    }
    const uint8_t* payload = Data + offset + sizeof header;
    const size_t payloadSize = header.nlmsg_len - sizeof header;
    if (header.nlmsg_seq == Sequence) {
      if (header.nlmsg_type == NLMSG_DONE) {
        // Since 4.x the end carries the dump's outcome.
        int32_t status = 0;
        if (payloadSize >= sizeof status) std::memcpy(&status, payload, sizeof status);
        if (status < 0) {
          result.Status = TDiagResult::Failed;
          result.Error = status == INT32_MIN ? EPROTO : -status;
        } else {
          result.Status = TDiagResult::Done;
        }
        return result;
      }
      if (header.nlmsg_type == NLMSG_ERROR) {
        int32_t error = 0;
        if (payloadSize >= sizeof error) std::memcpy(&error, payload, sizeof error);
        if (error == 0) {
          result.Status = TDiagResult::Done;  // a bare acknowledgement: nothing more comes
        } else {
          result.Status = TDiagResult::Failed;
          result.Error = error < 0 && error != INT32_MIN ? -error : EPROTO;
        }
        return result;
      }
      if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && payloadSize >= sizeof(inet_diag_msg)) {
        inet_diag_msg message;
        std::memcpy(&message, payload, sizeof message);
        if (message.idiag_family == Family) {
          Out.emplace_back();
          TKernelSocket& found = Out.back();
          TSocketRecord& socket = found.Socket;
          const size_t addressSize = Family == AF_INET6 ? 16 : 4;
          std::memcpy(socket.LocalAddress, message.id.idiag_src, addressSize);
          std::memcpy(socket.RemoteAddress, message.id.idiag_dst, addressSize);
          socket.LocalPort = ntohs(message.id.idiag_sport);
          socket.RemotePort = ntohs(message.id.idiag_dport);
          socket.State = Tcp ? TcpStateFromKernel(message.idiag_state) : 0;
          found.Inode = message.idiag_inode;
        }
      }
    }
    const size_t step = NLMSG_ALIGN(header.nlmsg_len);
    if (step > Size - offset) break;
    offset += step;
  }
  return result;
}
