// A NetOutput that keeps what it would hand to the socket, for the NetOutput tests.
#pragma once

#include <string>
#include <vector>

#include "wirelane/http/NetOutput.h"

namespace netoutputtest {

// Records each hand-over (header and body of Send, or one piece of a chunked
// body) instead of writing it, so tests can compare exact bytes. It answers
// like HTTPSock::SendHttpMessage: the body's length when there is a body,
// else the header's, -1 when both are null.
class CapturedOutput : public NetOutput {
 public:
  using NetOutput::NetOutput;

  std::string header;               // header bytes of the last hand-over
  std::string body;                 // body bytes of the last hand-over
  std::vector<std::string> pieces;  // every body handed over, in order
  int handovers = 0;
  int answer_override = 0;  // when not 0, returned instead

  // The header followed by the body, as the wire would carry them.
  std::string Wire() const { return header + body; }

 protected:
  int InternalSend(const char* head, int headLength, const char* data, int dataLength) override {
    ++handovers;
    header.assign(head != nullptr ? std::string(head, static_cast<size_t>(headLength)) : "");
    body.assign(data != nullptr ? std::string(data, static_cast<size_t>(dataLength)) : "");
    if (data != nullptr) pieces.push_back(body);
    if (answer_override != 0) return answer_override;
    return data != nullptr ? dataLength : head != nullptr ? headLength : -1;
  }
};

}  // namespace netoutputtest
