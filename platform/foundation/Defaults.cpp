#include "platform/foundation/Defaults.h"

#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"

namespace glowsnap {

struct Defaults::Impl {
  std::filesystem::path file;
  mutable std::mutex mutex;
  nlohmann::json values = nlohmann::json::object();
  std::string lastError;

  void load() {
    values = nlohmann::json::object();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      lastError = file.string() + ": cannot read the settings file";
      return;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    auto parsed = nlohmann::json::parse(buffer.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
      // A damaged file must not take the application down nor be lost: it
      // is kept beside the new one for whoever wants to look at it.
      auto aside = file;
      aside += ".corrupt";
      std::filesystem::rename(file, aside, ec);
      lastError = file.string() + ": the settings file is damaged; kept as " + aside.string() +
                  " and starting with empty settings";
      std::cerr << "glowsnap: " << lastError << '\n';
      return;
    }
    values = std::move(parsed);
  }

  bool save() {
    if (!paths::ensureDirectory(file.parent_path())) {
      lastError = file.parent_path().string() + ": cannot create the settings directory";
      return false;
    }
    auto status = AtomicFile::writeAll(file, values.dump(2) + "\n");
    if (!status) {
      lastError = status.error().description;
      return false;
    }
    return true;
  }

  const nlohmann::json* find(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? nullptr : &*it;
  }
};

Defaults& Defaults::standard() {
  static Defaults instance(paths::configDirectory() / "defaults.json");
  return instance;
}

Defaults::Defaults(std::filesystem::path file) : d_(std::make_unique<Impl>()) {
  d_->file = std::move(file);
  d_->load();
}

Defaults::~Defaults() = default;

bool Defaults::hasKey(const std::string& key) const {
  std::lock_guard lock(d_->mutex);
  return d_->find(key) != nullptr;
}

std::vector<std::string> Defaults::keys() const {
  std::lock_guard lock(d_->mutex);
  std::vector<std::string> out;
  for (auto it = d_->values.begin(); it != d_->values.end(); ++it) out.push_back(it.key());
  return out;
}

std::int64_t Defaults::integerForKey(const std::string& key) const {
  std::lock_guard lock(d_->mutex);
  const auto* v = d_->find(key);
  if (!v) return 0;
  if (v->is_number_integer()) return v->get<std::int64_t>();
  if (v->is_number_float()) return static_cast<std::int64_t>(v->get<double>());
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  return 0;
}

bool Defaults::boolForKey(const std::string& key) const {
  std::lock_guard lock(d_->mutex);
  const auto* v = d_->find(key);
  if (!v) return false;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number()) return v->get<double>() != 0.0;
  return false;
}

double Defaults::doubleForKey(const std::string& key) const {
  std::lock_guard lock(d_->mutex);
  const auto* v = d_->find(key);
  if (!v || !v->is_number()) return 0.0;
  return v->get<double>();
}

std::optional<std::string> Defaults::stringForKey(const std::string& key) const {
  std::lock_guard lock(d_->mutex);
  const auto* v = d_->find(key);
  if (!v || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

void Defaults::setInteger(std::int64_t value, const std::string& key) {
  std::lock_guard lock(d_->mutex);
  d_->values[key] = value;
  d_->save();
}

void Defaults::setBool(bool value, const std::string& key) {
  std::lock_guard lock(d_->mutex);
  d_->values[key] = value;
  d_->save();
}

void Defaults::setDouble(double value, const std::string& key) {
  std::lock_guard lock(d_->mutex);
  d_->values[key] = value;
  d_->save();
}

void Defaults::setString(const std::string& value, const std::string& key) {
  std::lock_guard lock(d_->mutex);
  d_->values[key] = value;
  d_->save();
}

void Defaults::removeObject(const std::string& key) {
  std::lock_guard lock(d_->mutex);
  d_->values.erase(key);
  d_->save();
}

bool Defaults::synchronize() {
  std::lock_guard lock(d_->mutex);
  return d_->save();
}

void Defaults::reload() {
  std::lock_guard lock(d_->mutex);
  d_->load();
}

const std::filesystem::path& Defaults::file() const { return d_->file; }

std::string Defaults::lastError() const {
  std::lock_guard lock(d_->mutex);
  return d_->lastError;
}

}  // namespace glowsnap
