#include "tests/loopback_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>

namespace {

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int sent = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 16)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

std::string HeaderValue(const std::string& headers, const std::string& name) {
  std::string lower = headers;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  std::string key = "\r\n" + name + ":";
  std::transform(key.begin(), key.end(), key.begin(), ::tolower);
  const size_t at = lower.find(key);
  if (at == std::string::npos) return "";
  size_t start = at + key.size();
  while (start < headers.size() && headers[start] == ' ') ++start;
  const size_t end = headers.find("\r\n", start);
  return headers.substr(start, end - start);
}

}  // namespace

LoopbackServer::LoopbackServer(uint16_t port, DWORD lifetimeMs)
    : port_(port), lifetimeMs_(lifetimeMs) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

LoopbackServer::~LoopbackServer() {
  Stop();
  WSACleanup();
}

bool LoopbackServer::Start() {
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return false;
  BOOL reuse = TRUE;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
             sizeof(reuse));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, 16) != 0) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }
  int length = sizeof(address);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void LoopbackServer::Stop() {
  stop_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  listener_ = INVALID_SOCKET;
}

void LoopbackServer::SetReply(const CannedReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.erase(std::remove_if(replies_.begin(), replies_.end(),
                                [&](const std::shared_ptr<const CannedReply>& r) {
                                  return r->path == reply.path;
                                }),
                 replies_.end());
  replies_.push_back(std::make_shared<const CannedReply>(reply));
}

std::wstring LoopbackServer::Url(const std::string& path) const {
  const std::string url = "http://127.0.0.1:" + std::to_string(port_) + path;
  return std::wstring(url.begin(), url.end());
}

std::vector<RecordedRequest> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t LoopbackServer::CountRequests(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(),
                                           [&](const RecordedRequest& r) { return r.path == path; }));
}

bool LoopbackServer::WaitForRequest(const std::string& path, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    if (CountRequests(path) > 0) return true;
    Sleep(10);
  }
  return CountRequests(path) > 0;
}

void LoopbackServer::AcceptLoop() {
  const ULONGLONG deadline = GetTickCount64() + lifetimeMs_;
  while (!stop_ && GetTickCount64() < deadline) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait = {0, 50 * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, client] { Serve(client); });
  }
}

void LoopbackServer::Serve(SOCKET client) {
  DWORD timeout = 10000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
  std::string received;
  char buffer[4096];
  while (received.find("\r\n\r\n") == std::string::npos && received.size() < 65536) {
    const int got = recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  const size_t headerEnd = received.find("\r\n\r\n");
  if (headerEnd == std::string::npos) {
    closesocket(client);
    return;
  }
  RecordedRequest request;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  request.arrivalTicks = now.QuadPart;
  request.headers = received.substr(0, headerEnd + 2);
  const size_t sp1 = request.headers.find(' ');
  const size_t sp2 = request.headers.find(' ', sp1 + 1);
  request.method = request.headers.substr(0, sp1);
  request.path = request.headers.substr(sp1 + 1, sp2 - sp1 - 1);
  request.userAgent = HeaderValue(request.headers, "User-Agent");

  std::shared_ptr<const CannedReply> found;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    for (const std::shared_ptr<const CannedReply>& r : replies_) {
      if (r->path == request.path) found = r;
    }
  }
  if (!found) {
    CannedReply missing;
    missing.status = 404;
    missing.body = "<html><body>not found</body></html>";
    found = std::make_shared<const CannedReply>(missing);
  }
  const CannedReply& reply = *found;
  if (reply.headerDelayMs) Sleep(reply.headerDelayMs);
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + StatusText(reply.status) +
                     "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
  if (reply.contentLength) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  head += reply.extraHeaders + "\r\n";
  if (SendAll(client, head.data(), head.size())) {
    if (reply.bodyDelayMs) Sleep(reply.bodyDelayMs);
    const size_t total = std::min(reply.body.size(), reply.cutAfter);
    const size_t piece = reply.chunkSize ? reply.chunkSize : (total ? total : 1);
    for (size_t sent = 0; sent < total && !stop_;) {
      const size_t n = std::min(piece, total - sent);
      if (!SendAll(client, reply.body.data() + sent, n)) break;
      sent += n;
      if (reply.chunkDelayMs && sent < total) Sleep(reply.chunkDelayMs);
    }
  }
  if (reply.cutAfter != SIZE_MAX) {
    // An abortive close, so the client sees the body end early.
    linger hard = {1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
  } else {
    shutdown(client, SD_SEND);
  }
  closesocket(client);
}
