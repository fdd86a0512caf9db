// ServiceContext: what every part of the service works with: its options,
// its store and its photo files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "services/PhotoFiles.h"
#include "services/ServiceStore.h"

namespace glowsnap::services {

struct ServiceOptions {
  static constexpr int kDefaultPort = 8420;

  std::filesystem::path dataDirectory;
  std::string listenHost = "127.0.0.1";
  int listenPort = kDefaultPort;
  // TLS: both or neither.
  std::optional<std::filesystem::path> certificateFile;
  std::optional<std::filesystem::path> privateKeyFile;
  // Where the bound port is written once the server listens.
  std::optional<std::filesystem::path> portFile;
  // Larger request bodies are refused with 413.
  std::size_t maxBodyBytes = 32u << 20;
  // Sessions last this long (0: until logout).
  std::int64_t sessionLifetimeSeconds = 30 * 24 * 3600;
  // No line per request on standard error.
  bool quiet = false;
};

struct ServiceContext {
  const ServiceOptions& options;
  ServiceStore& store;
  PhotoFiles& files;
};

}  // namespace glowsnap::services
