#include "platform/net/ProxyAutoConfiguration.h"

#include <arpa/inet.h>
#include <fnmatch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "duktape.h"

namespace glowsnap {

namespace {

// The helpers written in the script language; dnsResolve, myIpAddress and
// shExpMatch are native (below).
const char kHelpers[] = R"JS(
function isPlainHostName(host) {
  return String(host).indexOf('.') < 0;
}
function dnsDomainIs(host, domain) {
  host = String(host).toLowerCase();
  domain = String(domain).toLowerCase();
  return host.length >= domain.length &&
         host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
  host = String(host).toLowerCase();
  hostdom = String(hostdom).toLowerCase();
  if (host === hostdom) return true;
  return host.indexOf('.') < 0 && hostdom.indexOf(host + '.') === 0;
}
function isResolvable(host) {
  return dnsResolve(host) !== null;
}
function dnsDomainLevels(host) {
  return String(host).split('.').length - 1;
}
function __ipv4(text) {
  var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(text));
  if (!m) return null;
  var value = 0;
  for (var i = 1; i <= 4; i++) {
    var part = Number(m[i]);
    if (part > 255) return null;
    value = value * 256 + part;
  }
  return value;
}
function isInNet(host, pattern, mask) {
  var address = __ipv4(host);
  if (address === null) {
    var resolved = dnsResolve(host);
    if (resolved === null) return false;
    address = __ipv4(resolved);
  }
  var p = __ipv4(pattern), m = __ipv4(mask);
  if (address === null || p === null || m === null) return false;
  return ((address & m) >>> 0) === ((p & m) >>> 0);
}
var __days = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __months = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN',
                'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function __split(args) {
  var list = Array.prototype.slice.call(args);
  var gmt = list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT';
  if (gmt) list.pop();
  return { list: list, gmt: gmt, now: new Date() };
}
function __inRange(value, from, to) {
  return from <= to ? (value >= from && value <= to) : (value >= from || value <= to);
}
function weekdayRange() {
  var a = __split(arguments);
  if (a.list.length < 1 || a.list.length > 2) return false;
  var from = __days.indexOf(String(a.list[0]).toUpperCase());
  var to = a.list.length > 1 ? __days.indexOf(String(a.list[1]).toUpperCase()) : from;
  if (from < 0 || to < 0) return false;
  return __inRange(a.gmt ? a.now.getUTCDay() : a.now.getDay(), from, to);
}
function dateRange() {
  var a = __split(arguments);
  var n = a.list.length;
  if (n !== 1 && n !== 2 && n !== 4 && n !== 6) return false;
  var parts = [];
  for (var i = 0; i < n; i++) {
    var v = a.list[i], month = __months.indexOf(String(v).toUpperCase());
    if (month >= 0) parts.push({ kind: 'm', value: month });
    else if (typeof v === 'number' && v >= 1 && v <= 31) parts.push({ kind: 'd', value: v });
    else if (typeof v === 'number' && v > 31) parts.push({ kind: 'y', value: v });
    else return false;
  }
  var half = n === 1 ? 1 : n / 2;
  var start = parts.slice(0, half), end = n === 1 ? start : parts.slice(half);
  for (var k = 0; k < half; k++) if (start[k].kind !== end[k].kind) return false;
  var now = { y: a.gmt ? a.now.getUTCFullYear() : a.now.getFullYear(),
              m: a.gmt ? a.now.getUTCMonth() : a.now.getMonth(),
              d: a.gmt ? a.now.getUTCDate() : a.now.getDate() };
  var weight = { y: 10000, m: 100, d: 1 };
  function key(list) {
    var total = 0;
    for (var j = 0; j < list.length; j++) total += list[j].value * weight[list[j].kind];
    return total;
  }
  var current = 0;
  for (var c = 0; c < half; c++) current += now[start[c].kind] * weight[start[c].kind];
  var from = key(start), to = key(end);
  var hasYear = start.some(function (p) { return p.kind === 'y'; });
  if (hasYear) return current >= from && current <= to;
  return __inRange(current, from, to);
}
function timeRange() {
  var a = __split(arguments);
  var n = a.list.length;
  for (var i = 0; i < n; i++) if (typeof a.list[i] !== 'number') return false;
  var h = a.gmt ? a.now.getUTCHours() : a.now.getHours();
  var m = a.gmt ? a.now.getUTCMinutes() : a.now.getMinutes();
  var s = a.gmt ? a.now.getUTCSeconds() : a.now.getSeconds();
  var l = a.list;
  if (n === 1) return h === l[0];
  if (n === 2) {
    if (l[0] === l[1]) return h === l[0];
    return l[0] <= l[1] ? (h >= l[0] && h < l[1]) : (h >= l[0] || h < l[1]);
  }
  if (n === 4) return __inRange(h * 60 + m, l[0] * 60 + l[1], l[2] * 60 + l[3]);
  if (n === 6)
    return __inRange(h * 3600 + m * 60 + s, l[0] * 3600 + l[1] * 60 + l[2],
                     l[3] * 3600 + l[4] * 60 + l[5]);
  return false;
}
)JS";

// An allocator that keeps the heap within a budget.
struct Budget {
  std::size_t used = 0;
  std::size_t limit = ProxyAutoConfiguration::kMemoryBudget;
};
constexpr std::size_t kHeader = 16;

void* budgetAlloc(void* udata, duk_size_t size) {
  auto* b = static_cast<Budget*>(udata);
  if (size == 0) return nullptr;
  if (size > b->limit - b->used) return nullptr;
  auto* p = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!p) return nullptr;
  std::memcpy(p, &size, sizeof size);
  b->used += size;
  return p + kHeader;
}

void budgetFree(void* udata, void* ptr) {
  if (!ptr) return;
  auto* b = static_cast<Budget*>(udata);
  auto* p = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t size;
  std::memcpy(&size, p, sizeof size);
  b->used -= size;
  std::free(p);
}

void* budgetRealloc(void* udata, void* ptr, duk_size_t size) {
  if (!ptr) return budgetAlloc(udata, size);
  if (size == 0) {
    budgetFree(udata, ptr);
    return nullptr;
  }
  auto* b = static_cast<Budget*>(udata);
  auto* p = static_cast<unsigned char*>(ptr) - kHeader;
  std::size_t old;
  std::memcpy(&old, p, sizeof old);
  if (size > old && size - old > b->limit - b->used) return nullptr;
  auto* q = static_cast<unsigned char*>(std::realloc(p, size + kHeader));
  if (!q) return nullptr;
  std::memcpy(q, &size, sizeof size);
  b->used = b->used - old + size;
  return q + kHeader;
}

void fatal(void*, const char* message) {
  // Every call into the engine is a protected one; this is a fault of the
  // engine itself.
  std::fprintf(stderr, "proxy auto-configuration: fatal engine error: %s\n",
               message ? message : "");
  std::abort();
}

std::optional<std::string> resolveIPv4(const char* host) {
  in_addr literal{};
  if (::inet_pton(AF_INET, host, &literal) == 1) return std::string(host);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  auto* a = reinterpret_cast<sockaddr_in*>(result->ai_addr);
  ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
  ::freeaddrinfo(result);
  return std::string(text);
}

duk_ret_t nativeDnsResolve(duk_context* ctx) {
  const char* host = duk_safe_to_string(ctx, 0);
  auto address = host && *host ? resolveIPv4(host) : std::nullopt;
  if (address)
    duk_push_string(ctx, address->c_str());
  else
    duk_push_null(ctx);
  return 1;
}

duk_ret_t nativeMyIpAddress(duk_context* ctx) {
  std::string address = "127.0.0.1";
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
      if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text,
                  sizeof text);
      address = text;
      break;
    }
    ::freeifaddrs(list);
  }
  duk_push_string(ctx, address.c_str());
  return 1;
}

duk_ret_t nativeShExpMatch(duk_context* ctx) {
  const char* text = duk_safe_to_string(ctx, 0);
  const char* pattern = duk_safe_to_string(ctx, 1);
  duk_push_boolean(ctx, ::fnmatch(pattern, text, 0) == 0);
  return 1;
}

Error pacError(std::string text) {
  Error e;
  e.domain = ProxyAutoConfiguration::kErrorDomain;
  e.description = std::move(text);
  return e;
}

// The engine's message for the error on top of the stack.
std::string engineMessage(duk_context* ctx) {
  const char* text = duk_safe_to_string(ctx, -1);
  return text ? text : "unknown error";
}

// What the script is told about the URL.
std::string scriptURL(const URL& url) {
  if (url.scheme() == "https") return url.scheme() + "://" + url.hostAndPort() + "/";
  return url.wireString();
}

Result<std::string> evaluate(const std::string& script, const URL& url) {
  Budget budget;
  duk_context* ctx = duk_create_heap(budgetAlloc, budgetRealloc, budgetFree, &budget, fatal);
  if (!ctx) return pacError("The script engine could not be started");
  struct Destroy {
    duk_context* c;
    ~Destroy() { duk_destroy_heap(c); }
  } destroy{ctx};

  duk_push_c_function(ctx, nativeDnsResolve, 1);
  duk_put_global_string(ctx, "dnsResolve");
  duk_push_c_function(ctx, nativeMyIpAddress, 0);
  duk_put_global_string(ctx, "myIpAddress");
  duk_push_c_function(ctx, nativeShExpMatch, 2);
  duk_put_global_string(ctx, "shExpMatch");
  if (duk_peval_string(ctx, kHelpers) != 0)
    return pacError("The helper functions failed: " + engineMessage(ctx));
  duk_pop(ctx);

  if (duk_peval_lstring(ctx, script.data(), script.size()) != 0)
    return pacError("The script failed: " + engineMessage(ctx));
  duk_pop(ctx);
  if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1))
    return pacError("The script defines no FindProxyForURL function");
  duk_push_string(ctx, scriptURL(url).c_str());
  duk_push_string(ctx, url.host().c_str());
  if (duk_pcall(ctx, 2) != DUK_EXEC_SUCCESS)
    return pacError("FindProxyForURL failed: " + engineMessage(ctx));
  if (!duk_is_string(ctx, -1)) return pacError("FindProxyForURL did not answer a string");
  return std::string(duk_get_string(ctx, -1));
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

std::vector<ProxyEntry> ProxyAutoConfiguration::parseAnswer(const std::string& answer,
                                                            int* unusable) {
  std::vector<ProxyEntry> out;
  int skipped = 0;
  std::size_t b = 0;
  while (b <= answer.size()) {
    std::size_t e = answer.find(';', b);
    if (e == std::string::npos) e = answer.size();
    std::string item = trim(answer.substr(b, e - b));
    b = e + 1;
    if (item.empty()) continue;
    std::size_t space = item.find_first_of(" \t");
    std::string kind = item.substr(0, space);
    for (auto& c : kind) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (kind == "DIRECT") {
      out.push_back(ProxyEntry{});
      continue;
    }
    if ((kind != "PROXY" && kind != "HTTP") || space == std::string::npos) {
      ++skipped;
      continue;
    }
    std::string where = trim(item.substr(space));
    ProxyEntry entry;
    std::size_t colon = where.rfind(':');
    bool bracketed = !where.empty() && where.front() == '[';
    if (colon != std::string::npos && (!bracketed || where[colon - 1] == ']')) {
      entry.host = where.substr(0, colon);
      entry.port = std::atoi(where.c_str() + colon + 1);
    } else {
      entry.host = where;
      entry.port = 80;
    }
    if (entry.host.size() > 2 && entry.host.front() == '[' && entry.host.back() == ']')
      entry.host = entry.host.substr(1, entry.host.size() - 2);
    if (entry.host.empty() || entry.port <= 0 || entry.port > 65535) {
      ++skipped;
      continue;
    }
    out.push_back(std::move(entry));
  }
  if (unusable) *unusable = skipped;
  return out;
}

Result<std::vector<ProxyEntry>> ProxyAutoConfiguration::proxiesForURL(
    const std::string& script, const URL& url, std::chrono::milliseconds deadline) {
  // The script runs on a thread of its own, so that one that never ends
  // costs that thread and not the request.
  struct Shared {
    std::mutex lock;
    std::condition_variable done;
    std::optional<Result<std::string>> answer;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, script, url] {
    auto answer = evaluate(script, url);
    std::lock_guard guard(shared->lock);
    shared->answer.emplace(std::move(answer));
    shared->done.notify_all();
  }).detach();
  std::unique_lock guard(shared->lock);
  if (!shared->done.wait_for(guard, deadline, [&] { return shared->answer.has_value(); }))
    return pacError("The script did not answer within " +
                    std::to_string(deadline.count() / 1000.0).substr(0, 4) + " seconds");
  if (!shared->answer->ok()) return shared->answer->error();
  const std::string& text = shared->answer->value();
  int unusable = 0;
  auto entries = parseAnswer(text, &unusable);
  if (entries.empty() && unusable)
    return pacError("The script names only proxies this client cannot use: \"" + text + "\"");
  // An empty answer goes direct, as browsers read it.
  if (entries.empty()) entries.push_back(ProxyEntry{});
  return entries;
}

}  // namespace glowsnap
