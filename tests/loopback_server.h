// An HTTP server on 127.0.0.1 that runs on threads of the test process and
// answers from a table of canned replies. It records every request, signals
// when it listens, and stops by itself after its time limit.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CannedReply {
  std::string path;              // request path it answers, e.g. "/client/version.html"
  int status = 200;
  std::string body;
  bool contentLength = true;     // send a Content-Length header
  size_t cutAfter = SIZE_MAX;    // close the connection after this many body bytes
  DWORD headerDelayMs = 0;       // pause before anything is sent
  DWORD bodyDelayMs = 0;         // pause between the headers and the body
  size_t chunkSize = 0;          // send the body in pieces of this size (0: at once)
  DWORD chunkDelayMs = 0;        // pause between pieces
  std::string extraHeaders;      // more header lines, each ending in "\r\n"
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string userAgent;
  std::string headers;           // the whole header block as received
  int64_t arrivalTicks = 0;      // QueryPerformanceCounter when the headers were in
};

class LoopbackServer {
 public:
  // |port| 0 takes any free port. |lifetimeMs| bounds the server's life.
  explicit LoopbackServer(uint16_t port = 0, DWORD lifetimeMs = 120000);
  ~LoopbackServer();

  // Listens and starts the accept thread; true once it is listening.
  bool Start();
  void Stop();

  void SetReply(const CannedReply& reply);  // replaces a reply for the same path
  uint16_t port() const { return port_; }
  std::wstring Url(const std::string& path) const;
  std::vector<RecordedRequest> Requests();
  size_t CountRequests(const std::string& path);
  // Waits until a request for |path| has arrived.
  bool WaitForRequest(const std::string& path, DWORD timeoutMs);

 private:
  void AcceptLoop();
  void Serve(SOCKET client);

  uint16_t port_;
  DWORD lifetimeMs_;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stop_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  // Shared with the threads serving them, so a large body is not copied
  // for every request and a reply replaced meanwhile stays intact.
  std::vector<std::shared_ptr<const CannedReply>> replies_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> workers_;
};
