#include "platform/net/CredentialStorage.h"

#include <libsecret/secret.h>

#include <memory>
#include <tuple>

namespace glowsnap {

namespace {

const SecretSchema* schema() {
  static const SecretSchema s = {CredentialStorage::kSchemaName,
                                 SECRET_SCHEMA_NONE,
                                 {
                                     {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                     {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
                                     {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                     {"realm", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                     {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                     {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                 },
                                 0,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr};
  return &s;
}

// The attributes that name a space (the user is not part of it).
GHashTable* spaceAttributes(const ProtectionSpace& space) {
  GHashTable* a = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
  g_hash_table_insert(a, const_cast<char*>("host"), g_strdup(space.host.c_str()));
  g_hash_table_insert(a, const_cast<char*>("port"), g_strdup(std::to_string(space.port).c_str()));
  g_hash_table_insert(a, const_cast<char*>("protocol"), g_strdup(space.protocol.c_str()));
  g_hash_table_insert(a, const_cast<char*>("realm"), g_strdup(space.realm.c_str()));
  return a;
}

struct HashTableFree {
  void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableFree>;

Error storageError(const std::string& what, GError* cause) {
  Error e;
  e.domain = CredentialStorage::kErrorDomain;
  e.code = cause ? cause->code : 0;
  e.description = what;
  if (cause) {
    e.description += ": ";
    e.description += cause->message;
    g_error_free(cause);
  }
  return e;
}

std::string describe(const ProtectionSpace& space) {
  return space.protocol + "://" + space.host + ":" + std::to_string(space.port) +
         (space.realm.empty() ? "" : " (" + space.realm + ")");
}

}  // namespace

bool ProtectionSpace::operator<(const ProtectionSpace& other) const {
  return std::tie(host, port, protocol, realm) <
         std::tie(other.host, other.port, other.protocol, other.realm);
}

CredentialStorage& CredentialStorage::sharedCredentialStorage() {
  static CredentialStorage* storage = new CredentialStorage;
  return *storage;
}

Result<void> CredentialStorage::setDefaultCredential(const Credential& credential,
                                                     const ProtectionSpace& space) {
  GError* error = nullptr;
  Attributes attributes(spaceAttributes(space));
  // One default per space: whatever was kept for it before goes first.
  secret_password_clearv_sync(schema(), attributes.get(), nullptr, &error);
  if (error)
    return storageError("The credential for " + describe(space) +
                            " was not kept: no Secret Service could be reached",
                        error);
  g_hash_table_insert(attributes.get(), const_cast<char*>("user"),
                      g_strdup(credential.user.c_str()));
  std::string label = "Glowsnap: " + credential.user + " at " + describe(space);
  gboolean stored =
      secret_password_storev_sync(schema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                  label.c_str(), credential.password.c_str(), nullptr, &error);
  if (!stored || error)
    return storageError("The credential for " + describe(space) + " was not kept", error);
  return {};
}

std::optional<Credential> CredentialStorage::defaultCredential(const ProtectionSpace& space) {
  GError* error = nullptr;
  Attributes attributes(spaceAttributes(space));
  GList* items = secret_password_searchv_sync(
      schema(), attributes.get(),
      static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr,
      &error);
  if (error) {
    g_error_free(error);
    return std::nullopt;
  }
  std::optional<Credential> found;
  for (GList* l = items; l && !found; l = l->next) {
    auto* item = static_cast<SecretRetrievable*>(l->data);
    GHashTable* itemAttributes = secret_retrievable_get_attributes(item);
    const char* user = itemAttributes
                           ? static_cast<const char*>(g_hash_table_lookup(itemAttributes, "user"))
                           : nullptr;
    SecretValue* value = secret_retrievable_retrieve_secret_sync(item, nullptr, &error);
    if (error) {
      g_error_free(error);
      error = nullptr;
    }
    if (user && value) {
      gsize length = 0;
      const gchar* bytes = secret_value_get(value, &length);
      found = Credential{user, std::string(bytes, length)};
    }
    if (value) secret_value_unref(value);
    if (itemAttributes) g_hash_table_unref(itemAttributes);
  }
  g_list_free_full(items, g_object_unref);
  return found;
}

Result<void> CredentialStorage::removeDefaultCredential(const ProtectionSpace& space) {
  GError* error = nullptr;
  Attributes attributes(spaceAttributes(space));
  secret_password_clearv_sync(schema(), attributes.get(), nullptr, &error);
  if (error)
    return storageError("The credential for " + describe(space) + " could not be removed", error);
  return {};
}

}  // namespace glowsnap
