// Connection handling of the ranking server: libmicrohttpd does the sockets and HTTP; this
// file maps requests onto the service, finishes entries on workers, and logs each request.
//
// A request's life, and the callback that moves it on (all on its connection's event thread
// but the worker's):
//   OnConnection (started)   a Connection is made; its first request is timed from the accept.
//   OnRequestLine            a Request begins in kNew, counted (State::requestsInFlight) until
//                            Finish uncounts it.
//   OnRequest, first call    the head is complete: kNew -> kReading. An entry's head is checked
//                            (StartEntry): answered at once (411, 413; the connection closes),
//                            refused (its body is read and dropped, then the refusal sent), or
//                            holding (its body's bytes reserved until Release).
//   OnRequest, body calls    kReading: an entry's body is kept, any other is dropped.
//   OnRequest, last call     kReading: a page's reply or a refusal is queued; a holding entry
//                            goes kQueued, its connection suspended, to the workers (EndEntry).
//   State::Store (a worker)  kQueued -> kDone: the entry's reply is set, the connection resumed.
//   OnRequest after resume   kDone: that reply is queued.
//   ReadPiece                a replay is read from the database as it is sent.
//   OnCompleted              the reply was sent or the library gave up: Finish logs and uncounts.
//   OnConnection (closed)    a request still counted (its head or body stopped) is finished
//                            as closed, and the Connection freed.
#include "server/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/text.h"
#include "net/ranking.h"
#include "server/request_log.h"
#include "server/site.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;

// Descriptors kept for what is not a connection: standard streams, the database's files
// (two connections with their WAL and index), the listening socket, the event loop and its
// wake-up pipe, a replay file read at start, and room to spare.
constexpr std::uint64_t kReservedDescriptors = 24;
constexpr unsigned kMostConnections = 16384;
constexpr std::size_t kReadPiece = 65536;  // a reply read as it is sent, this much at a time

// One request on a connection, from its request line to its last reply byte.
struct Request {
  enum class Stage { kNew, kReading, kQueued, kDone };
  Stage stage = Stage::kNew;
  bool counted = false;  // in State::requestsInFlight, until it completes or its connection closes
  Clock::time_point start;
  std::string method;  // empty until the head is complete
  std::string target;  // as received, query included
  std::string contentType;
  std::string address;  // the client's, for the per-address limit of entries
  std::string body;
  bool bodyTooLarge = false;
  bool refused = false;  // its body is read and dropped, then reply is sent
  bool holding = false;  // counted in the entries held, with reserved bytes
  std::size_t reserved = 0;
  Clock::time_point deadline;  // an entry's, from its head
  Reply reply;                 // an entry's, written by a worker
  int status = 0;
  std::size_t bytes = 0;
};

struct Connection {
  Clock::time_point accepted = Clock::now();
  bool used = false;  // a request began on it already
  std::string peer;
  Request request;
};

std::string PeerText(const sockaddr* addr) {
  char text[INET6_ADDRSTRLEN] = "-";
  if (addr != nullptr && addr->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text, sizeof text);
  } else if (addr != nullptr && addr->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

// The path of an origin-form target, or of an absolute one as a proxy receives it.
std::string_view TargetPath(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() < kScheme.size() || !EqualsIgnoringCase(url.substr(0, kScheme.size()), kScheme)) {
    return url;
  }
  url.remove_prefix(kScheme.size());
  const std::size_t slash = url.find('/');
  return slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
}

const char* Header(MHD_Connection* c, const char* name) {
  return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
}

// The query of a target as received, before the library decodes its fields.
std::string_view RawQuery(std::string_view target) {
  const std::size_t mark = target.find('?');
  return mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

// A head with two readings: a NUL in its path, which ends the library's decoded C string
// early ("score.dat%00.html" would be the table), or Content-Length lines that disagree.
bool AmbiguousHead(MHD_Connection* c, std::string_view target, const char* url,
                   const char* version) {
  const std::string_view path = TargetPath(target);
  // The library points url and version into the request line as it came: a target that
  // ends before the version begins held a raw NUL (a version farther away than any request
  // line is not in that line).
  const auto begin = reinterpret_cast<std::uintptr_t>(url);
  const auto end = reinterpret_cast<std::uintptr_t>(version);
  if (path.substr(0, path.find('?')).find("%00") != std::string_view::npos ||
      (*version != '\0' && end > begin + target.size() + 1 && end - begin < 65536)) {
    return true;
  }
  std::pair<const char*, bool> lengths{nullptr, false};  // the first one, and a differing one
  MHD_get_connection_values(
      c, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        auto* seen = static_cast<std::pair<const char*, bool>*>(cls);
        if (key != nullptr && value != nullptr &&
            EqualsIgnoringCase(key, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
          seen->second =
              seen->second || (seen->first != nullptr && std::string_view(seen->first) != value);
          if (seen->first == nullptr) seen->first = value;
        }
        return MHD_YES;
      },
      &lengths);
  return lengths.second;
}

RequestEnd EndOf(MHD_RequestTerminationCode toe) {
  switch (toe) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
      return RequestEnd::kReplied;
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
      return RequestEnd::kTimedOut;
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
      return RequestEnd::kStopped;
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
    case MHD_REQUEST_TERMINATED_READ_ERROR:
      return RequestEnd::kClientClosed;
    default:
      return RequestEnd::kFailed;
  }
}

unsigned EventThreads(unsigned asked) {
  return asked != 0 ? asked : std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

// A piece of a reply that is read as it is sent (the response owns the reply).
ssize_t ReadPiece(void* reply, std::uint64_t at, char* to, std::size_t most) {
  const Reply& r = *static_cast<const Reply*>(reply);
  if (at >= r.readSize) return MHD_CONTENT_READER_END_OF_STREAM;
  const std::size_t size = std::min(most, r.readSize - static_cast<std::size_t>(at));
  return r.read(static_cast<std::size_t>(at), to, size) ? static_cast<ssize_t>(size)
                                                        : MHD_CONTENT_READER_END_WITH_ERROR;
}

}  // namespace

unsigned ConnectionLimitFor(std::uint64_t descriptors) noexcept {
  if (descriptors <= kReservedDescriptors) return 1;
  return static_cast<unsigned>(
      std::min<std::uint64_t>(descriptors - kReservedDescriptors, kMostConnections));
}

std::int64_t NowSeconds() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }

struct RankingHttpServer::State {
  State(RankingService& s, ServerOptions o) : service(s), options(std::move(o)) {}

  RankingService& service;
  ServerOptions options;
  MHD_Daemon* daemon = nullptr;
  std::atomic<bool> stopping{false};

  std::mutex mutex;  // guards what follows
  std::condition_variable changed;
  int requestsInFlight = 0;  // begun and not yet finished, on every connection
  unsigned heldEntries = 0;
  std::size_t heldBytes = 0;
  std::deque<std::pair<MHD_Connection*, Request*>> jobs;
  bool workersEnd = false;
  std::vector<std::thread> workers;

  void Work();
  void Store(const std::vector<std::pair<MHD_Connection*, Request*>>& taken);
  bool Reserve(Request& r, std::size_t bytes);
  void Release(Request& r);
  bool Queue(MHD_Connection* c, Request* r);
  void StopWorkers();
  void Finish(MHD_Connection* c, Connection& connection, RequestEnd end);
  MHD_Result Respond(MHD_Connection* c, Request& r, Reply reply);
  MHD_Result Handle(MHD_Connection* c, Request& r, const char* url, const char* method,
                    const char* data, std::size_t* size);
  MHD_Result StartEntry(MHD_Connection* c, Request& r);
  MHD_Result EndEntry(MHD_Connection* c, Request& r);
};

void RankingHttpServer::State::Work() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [this] { return workersEnd || !jobs.empty(); });
    if (jobs.empty()) return;  // ended, nothing left to finish
    const std::vector<std::pair<MHD_Connection*, Request*>> taken(jobs.begin(), jobs.end());
    jobs.clear();
    lock.unlock();
    Store(taken);
    lock.lock();
  }
}

// The entries that waited together: read (while the other worker may be committing), then
// stored in one transaction.
void RankingHttpServer::State::Store(
    const std::vector<std::pair<MHD_Connection*, Request*>>& taken) {
  const auto resume = [](MHD_Connection* c, Request* r, Reply reply) {
    r->reply = std::move(reply);
    r->stage = Request::Stage::kDone;
    MHD_resume_connection(c);
  };
  std::vector<NewEntry> entries;
  std::vector<std::pair<MHD_Connection*, Request*>> read;
  entries.reserve(taken.size());
  for (const auto& [c, r] : taken) {
    NewEntry entry;
    const Outcome outcome =
        service.ReadEntry(r->contentType, r->body, NowSeconds(), r->address, &entry);
    std::string().swap(r->body);  // freed (an assignment would keep its buffer)
    if (outcome != Outcome::kOk) {
      resume(c, r, ErrorReply(outcome));
      continue;
    }
    entry.deadline = r->deadline;
    entries.push_back(std::move(entry));
    read.emplace_back(c, r);
  }
  std::vector<Reply> replies = service.StoreEntries(entries, &stopping);
  entries.clear();
  for (std::size_t i = 0; i < read.size(); ++i) {
    resume(read[i].first, read[i].second, std::move(replies[i]));
  }
}

bool RankingHttpServer::State::Reserve(Request& r, std::size_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex);
  if (heldEntries >= options.entryLimit || bytes > options.entryMemory - heldBytes) return false;
  ++heldEntries;
  heldBytes += bytes;
  r.holding = true;
  r.reserved = bytes;
  return true;
}

void RankingHttpServer::State::Release(Request& r) {
  std::string().swap(r.body);
  if (!r.holding) return;
  r.holding = false;
  const std::lock_guard<std::mutex> lock(mutex);
  --heldEntries;
  heldBytes -= r.reserved;
}

bool RankingHttpServer::State::Queue(MHD_Connection* c, Request* r) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (workersEnd) return false;
    jobs.emplace_back(c, r);
  }
  changed.notify_all();
  return true;
}

void RankingHttpServer::State::StopWorkers() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    workersEnd = true;
  }
  changed.notify_all();
  for (std::thread& t : workers) t.join();
  workers.clear();
}

void RankingHttpServer::State::Finish(MHD_Connection* c, Connection& connection, RequestEnd end) {
  Request& r = connection.request;
  Release(r);
  if (!r.counted) return;
  r.counted = false;
  if (r.status == 0) {  // the library's own refusal of a head
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_HTTP_STATUS);
    if (info != nullptr) r.status = static_cast<int>(info->http_status);
  }
  if (options.log) {
    const std::string_view path = TargetPath(r.target);
    options.log(FormatAccessLine(
        {std::time(nullptr), connection.peer, r.method, path, path.data() != r.target.data(),
         r.status, r.bytes,
         std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - r.start), end}));
  }
  {
    const std::lock_guard<std::mutex> lock(mutex);
    --requestsInFlight;
  }
  changed.notify_all();
}

MHD_Result RankingHttpServer::State::Respond(MHD_Connection* c, Request& r, Reply reply) {
  Release(r);
  // The response owns the reply from here on and frees it when it is sent.
  auto owned = std::make_unique<Reply>(std::move(reply));
  Reply& o = *owned;
  const auto free = [](void* sent) { delete static_cast<Reply*>(sent); };
  MHD_Response* response = o.read ? MHD_create_response_from_callback(o.readSize, kReadPiece,
                                                                      &ReadPiece, owned.get(), free)
                                  : MHD_create_response_from_buffer_with_free_callback_cls(
                                        o.body.size(), o.body.data(), free, owned.get());
  if (response == nullptr) return MHD_NO;
  r.bytes = o.read ? o.readSize : o.body.size();
  static_cast<void>(owned.release());
  MHD_add_response_header(response, "Content-Type", o.contentType.c_str());
  MHD_add_response_header(response, "Cache-Control", o.cacheControl);
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Content-Security-Policy", ContentSecurityPolicy().c_str());
  if (!o.fileName.empty()) {  // our own name: "r" and digits
    const std::string disposition = "attachment; filename=\"" + o.fileName + "\"";
    MHD_add_response_header(response, "Content-Disposition", disposition.c_str());
  }
  // Stopping: no kept-alive connection may outlast its reply.
  if (stopping) MHD_add_response_header(response, "Connection", "close");
  if (o.retryAfterS > 0) {
    MHD_add_response_header(response, "Retry-After", std::to_string(o.retryAfterS).c_str());
  }
  r.status = HttpStatus(o.outcome);
  const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(r.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result RankingHttpServer::State::Handle(MHD_Connection* c, Request& r, const char* url,
                                            const char* method, const char* data,
                                            std::size_t* size) {
  const std::string_view path = TargetPath(url);
  const Route* route = FindRoute(method, path);
  const bool entry = route != nullptr && route->kind == RouteKind::kEntryPost;
  const bool read = route != nullptr && !entry;
  if (r.stage == Request::Stage::kNew) {
    r.stage = Request::Stage::kReading;
    // Replies come after the head's own call: one queued in it closes the connection.
    return entry ? StartEntry(c, r) : MHD_YES;
  }
  if (r.stage == Request::Stage::kReading && *size > 0) {
    r.bodyTooLarge = r.bodyTooLarge || r.body.size() + *size > kMaxEntryBody;
    if (entry && !r.bodyTooLarge && !r.refused) r.body.append(data, *size);
    *size = 0;
    return MHD_YES;
  }
  if (r.stage == Request::Stage::kReading) {
    if (read) {
      const auto argument = [c](const char* name) {
        const char* value = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
        return std::string_view(value == nullptr ? "" : value);
      };
      return Respond(c, r, service.Read(*route, path, argument(kEntryIdField), RawQuery(r.target)));
    }
    if (!entry) return Respond(c, r, ErrorReply(Outcome::kNotFound));
    return EndEntry(c, r);
  }
  if (r.stage == Request::Stage::kDone) {
    return Respond(c, r, std::move(r.reply));
  }
  return MHD_YES;  // resumed before the worker finished: not possible, but harmless
}

// An entry's head: answered at once, refused once its body is read, or holding its bytes.
MHD_Result RankingHttpServer::State::StartEntry(MHD_Connection* c, Request& r) {
  const char* length = Header(c, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length == nullptr && Header(c, MHD_HTTP_HEADER_TRANSFER_ENCODING) == nullptr) {
    return Respond(c, r, ErrorReply(Outcome::kLengthRequired));
  }
  // Refused before a byte of the body is read (and the connection closed after it).
  const long long declared = length == nullptr ? 0 : ReadDecimal(length);
  if (declared < 0 || static_cast<std::uint64_t>(declared) > kMaxEntryBody) {
    return Respond(c, r, ErrorReply(Outcome::kBodyTooLarge));
  }
  // Refused ones (a full disk, an address with its day's entries, more than the server may
  // hold) keep nothing of their body and are answered once it has been read: a reply before
  // it would reset the connection, and the front would turn the refusal into a 502.
  if (Reply refusal; service.AdmitEntry(r.address, NowSeconds(), &refusal) != Outcome::kOk) {
    r.refused = true;
    r.reply = std::move(refusal);
    return MHD_YES;
  }
  // All it may hold is counted from here (a chunked body as the largest), so that no
  // number of entries can make the server hold more than its budget.
  const auto bytes = length == nullptr ? kMaxEntryBody : static_cast<std::uint64_t>(declared);
  if (!Reserve(r, static_cast<std::size_t>(bytes))) {
    r.refused = true;
    r.reply = ErrorReply(Outcome::kBusy);
    return MHD_YES;
  }
  r.deadline = Clock::now() + options.entryDeadline;
  r.body.reserve(static_cast<std::size_t>(declared));
  const char* type = Header(c, MHD_HTTP_HEADER_CONTENT_TYPE);
  r.contentType = type == nullptr ? "" : type;
  return MHD_YES;
}

// An entry's body is in: answered now when refused, else handed to the workers.
MHD_Result RankingHttpServer::State::EndEntry(MHD_Connection* c, Request& r) {
  if (r.bodyTooLarge) return Respond(c, r, ErrorReply(Outcome::kBodyTooLarge));
  if (r.refused) return Respond(c, r, std::move(r.reply));
  // Suspended before a worker can see it, so that its resume cannot come first.
  r.stage = Request::Stage::kQueued;
  MHD_suspend_connection(c);
  if (!Queue(c, &r)) {
    r.reply = ErrorReply(Outcome::kBusy);
    r.stage = Request::Stage::kDone;
    MHD_resume_connection(c);
  }
  return MHD_YES;
}

namespace {

RankingHttpServer::State& StateOf(void* cls) {
  return *static_cast<RankingHttpServer::State*>(cls);
}

Connection* ConnectionOf(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<Connection*>(info->socket_context);
}

void OnConnection(void* cls, MHD_Connection* c, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
  // The library holds the connection's state from its start to its close.
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    auto connection = std::make_unique<Connection>();
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    connection->peer = PeerText(info == nullptr ? nullptr : info->client_addr);
    *socketContext = connection.release();
    return;
  }
  const std::unique_ptr<Connection> connection(static_cast<Connection*>(*socketContext));
  *socketContext = nullptr;
  // A request that never got its reply: its head or body stopped, or the client left.
  if (connection) StateOf(cls).Finish(c, *connection, RequestEnd::kClosed);
}

// Called as soon as a request line has arrived: the request begins here, or at accept for
// a connection's first request, so that the log counts every wait.
void* OnRequestLine(void* cls, const char* uri, MHD_Connection* c) {
  Connection* connection = ConnectionOf(c);
  if (connection == nullptr) return nullptr;
  StateOf(cls).Finish(c, *connection, RequestEnd::kClosed);  // not expected: one at a time
  Request& r = connection->request;
  r = Request();
  r.start = connection->used ? Clock::now() : connection->accepted;
  connection->used = true;
  r.counted = true;
  r.target = uri == nullptr ? "" : uri;
  {
    const std::lock_guard<std::mutex> lock(StateOf(cls).mutex);
    ++StateOf(cls).requestsInFlight;
  }
  return &r;
}

MHD_Result OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                     const char* version, const char* data, std::size_t* size, void** context) {
  auto* r = static_cast<Request*>(*context);
  if (r == nullptr) return MHD_NO;
  if (r->stage == Request::Stage::kNew) {
    r->method = method;
    Connection* connection = ConnectionOf(c);
    const char* realIp = Header(c, "X-Real-IP");
    if (StateOf(cls).options.behindFront && realIp != nullptr && connection != nullptr) {
      connection->peer = realIp;
    }
    if (connection != nullptr) r->address = connection->peer;
    if (AmbiguousHead(c, r->target, url, version)) {
      r->stage = Request::Stage::kReading;  // refused in the head's own call: the connection closes
      return StateOf(cls).Respond(c, *r, ErrorReply(Outcome::kBadRequest));
    }
  }
  return StateOf(cls).Handle(c, *r, url, method, data, size);
}

void OnCompleted(void* cls, MHD_Connection* c, void** /*context*/, MHD_RequestTerminationCode toe) {
  Connection* connection = ConnectionOf(c);
  if (connection != nullptr) StateOf(cls).Finish(c, *connection, EndOf(toe));
}

}  // namespace

RankingHttpServer::RankingHttpServer(RankingService& service, ServerOptions options)
    : state_(std::make_unique<State>(service, std::move(options))) {}

RankingHttpServer::~RankingHttpServer() { Stop(0); }

int RankingHttpServer::Start(const std::string& host, int port) {
  if (state_->daemon != nullptr || port < 0 || port > 65535) return -1;
  sockaddr_storage addr{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    flags |= MHD_USE_IPv6;
  } else {
    return -1;
  }
  const ServerOptions& o = state_->options;
  State* state = state_.get();
  state->stopping = false;
  state->workersEnd = false;
  for (int i = 0; i < std::max(o.entryWorkers, 1); ++i) {
    state->workers.emplace_back([state] { state->Work(); });
  }
  state->daemon = MHD_start_daemon(
      flags, static_cast<std::uint16_t>(port), nullptr, nullptr, &OnRequest, state,
      MHD_OPTION_THREAD_POOL_SIZE, EventThreads(o.eventThreads), MHD_OPTION_SOCK_ADDR,
      reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u,
      MHD_OPTION_CONNECTION_LIMIT, std::max(o.connectionLimit, 1u),
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, o.behindFront ? 0u : o.perAddressLimit,
      MHD_OPTION_CONNECTION_TIMEOUT, o.connectionTimeoutS, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      o.connectionMemory, MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, state,
      MHD_OPTION_URI_LOG_CALLBACK, &OnRequestLine, state, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted,
      state, MHD_OPTION_END);
  const MHD_DaemonInfo* info = state->daemon == nullptr
                                   ? nullptr
                                   : MHD_get_daemon_info(state->daemon, MHD_DAEMON_INFO_BIND_PORT);
  if (info == nullptr || info->port == 0) {
    if (state->daemon != nullptr) MHD_stop_daemon(state->daemon);
    state->daemon = nullptr;
    state->StopWorkers();
    return -1;
  }
  return info->port;
}

void RankingHttpServer::StopAccepting() noexcept {
  State& s = *state_;
  if (s.daemon == nullptr || s.stopping.exchange(true)) return;
  const MHD_socket listening = MHD_quiesce_daemon(s.daemon);
  if (listening != MHD_INVALID_SOCKET) close(listening);
}

void RankingHttpServer::Stop(int graceMs) noexcept {
  State& s = *state_;
  if (s.daemon == nullptr) return;
  StopAccepting();
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait_for(lock, std::chrono::milliseconds(graceMs),
                       [&s] { return s.requestsInFlight == 0; });
  }
  // Entries already handed to the workers are finished and their connections resumed;
  // any later one is answered 503.
  s.StopWorkers();
  MHD_stop_daemon(s.daemon);
  s.daemon = nullptr;
}

}  // namespace qlan::server
