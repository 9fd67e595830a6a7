#include "gate/accounts/password_store.h"

#include <sodium.h>

#include <array>
#include <charconv>

#include "host/field_line.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::string_view kHashPrefix = "$argon2id$v=19$";

// Reads a decimal number that ends with the terminator, advancing the text past both.
bool TakeNumber(std::string_view& text, std::string_view name, char terminator,
                std::uint32_t& number) {
  if (text.substr(0, name.size()) != name) return false;
  text.remove_prefix(name.size());
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  const auto used = static_cast<std::size_t>(end - text.data());
  if (error != std::errc() || used == 0 || used >= text.size() || text[used] != terminator) {
    return false;
  }
  text.remove_prefix(used + 1);
  return true;
}

StoredPasswordKind HashKind(std::string_view hash) {
  if (hash.substr(0, kHashPrefix.size()) != kHashPrefix) return StoredPasswordKind::Unreadable;
  std::string_view rest = hash.substr(kHashPrefix.size());
  std::uint32_t memory = 0, passes = 0, lanes = 0;
  if (!TakeNumber(rest, "m=", ',', memory) || !TakeNumber(rest, "t=", ',', passes) ||
      !TakeNumber(rest, "p=", '$', lanes)) {
    return StoredPasswordKind::Unreadable;
  }
  const std::size_t salt_end = rest.find('$');
  if (salt_end == 0 || salt_end == std::string_view::npos || salt_end + 1 == rest.size()) {
    return StoredPasswordKind::Unreadable;
  }
  return memory < kHashMemoryKiB || passes < kHashPasses ? StoredPasswordKind::WeakerHash
                                                         : StoredPasswordKind::Hashed;
}

// The first pwhash line, else the first pw line, of lines given one by one, and whether
// the first locked line locks the record.
class PasswordLineFinder {
 public:
  void Visit(std::string_view line) {
    if (!lock_seen_ && IsFieldLineNamed(line, kLockedKey)) {
      lock_seen_ = true;
      found_.locked = FieldLineValue(line) == kLockedValue;
    } else if (!hashed_ && IsFieldLineNamed(line, kPasswordHashKey)) {
      hashed_ = true;
      found_.kind = HashKind(FieldLineValue(line));
      found_.value = FieldLineValue(line);
    } else if (!hashed_ && !plain_ && IsFieldLineNamed(line, kPlainPasswordKey)) {
      plain_ = true;
      found_.kind = StoredPasswordKind::Plain;
      found_.value = FieldLineValue(line);
    }
  }
  StoredPassword Found() const { return found_; }

 private:
  bool hashed_ = false;
  bool plain_ = false;
  bool lock_seen_ = false;
  StoredPassword found_;
};

std::string Base64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL_NO_PADDING),
                   '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size,
                    sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
  text.resize(text.find('\0'));
  return text;
}

void StartLibrary() {
  // Picks the fastest implementation for this processor; later calls return at once.
  if (sodium_init() < 0) throw Exception("The password hash library could not start");
}

bool HashOpens(std::string_view hash, std::string_view given) {
  StartLibrary();
  const std::string terminated(hash);  // the library reads the hash up to its NUL
  return crypto_pwhash_argon2id_str_verify(terminated.c_str(), given.data(), given.size()) == 0;
}

}  // namespace

PasswordStore PasswordStoreOf(std::string_view setting) {
  return setting == "argon2id" ? PasswordStore::Argon2id : PasswordStore::Plain;
}

bool IsKnownPasswordStore(std::string_view setting) {
  return setting.empty() || setting == "plain" || setting == "argon2id";
}

StoredPassword StoredPasswordInText(std::string_view record) {
  PasswordLineFinder finder;
  TFieldLineReader reader(record);
  for (std::string_view line; reader.Next(line);) finder.Visit(line);
  return finder.Found();
}

StoredPassword StoredPasswordInEdits(const TFieldEdits& record) {
  PasswordLineFinder finder;
  record.ForEachLine([&finder](std::string_view line) { finder.Visit(line); });
  return finder.Found();
}

bool PasswordChecks::Opens(const StoredPassword& stored, std::string_view given) {
  if (given.empty() || stored.value.empty() || stored.locked) return false;
  switch (stored.kind) {
    case StoredPasswordKind::Plain:
      return SameBytes(stored.value, given);
    case StoredPasswordKind::Hashed:
    case StoredPasswordKind::WeakerHash:
      break;
    default:
      return false;
  }
  if (Remembers(stored, given)) return true;
  if (!HashOpens(stored.value, given)) return false;
  opened_hash_ = stored.value;
  opened_by_ = given;
  return true;
}

bool PasswordChecks::Remembers(const StoredPassword& stored, std::string_view given) const {
  return !opened_hash_.empty() && SameBytes(opened_hash_, stored.value) &&
         SameBytes(opened_by_, given);
}

bool PasswordChecks::ComputesHash(const StoredPassword& stored, std::string_view given) const {
  const bool hashed =
      stored.kind == StoredPasswordKind::Hashed || stored.kind == StoredPasswordKind::WeakerHash;
  return hashed && !given.empty() && !stored.value.empty() && !stored.locked &&
         !Remembers(stored, given);
}

void PasswordChecks::Forget() {
  sodium_memzero(opened_by_.data(), opened_by_.size());
  opened_by_.clear();
  opened_hash_.clear();
}

bool NeedsRestoring(const StoredPassword& stored, PasswordStore store) {
  return store == PasswordStore::Argon2id && (stored.kind == StoredPasswordKind::Plain ||
                                              stored.kind == StoredPasswordKind::WeakerHash);
}

PasswordToStore PreparePassword(std::string_view password, PasswordStore store) {
  if (store == PasswordStore::Plain) return {kPlainPasswordKey, std::string(password)};
  return {kPasswordHashKey, HashPassword(password)};
}

void StorePassword(TFieldEdits& record, const PasswordToStore& password) {
  const StoredPasswordKind kind = StoredPasswordInEdits(record).kind;
  const bool hashed = kind != StoredPasswordKind::Plain && kind != StoredPasswordKind::None;
  record.Set(hashed ? kPlainPasswordKey : kPasswordHashKey, {});
  record.Replace(hashed ? kPasswordHashKey : kPlainPasswordKey, password.key, password.value);
}

std::string PasswordLine(std::string_view password, PasswordStore store) {
  const PasswordToStore line = PreparePassword(password, store);
  return std::string(line.key) + "=" + line.value;
}

std::string HashPassword(std::string_view password) {
  StartLibrary();
  std::array<unsigned char, kSaltBytes> salt{};
  platform::FillRandomBytes(salt.data(), salt.size());
  std::array<unsigned char, kHashBytes> hash{};
  if (crypto_pwhash_argon2id(hash.data(), hash.size(), password.data(), password.size(),
                             salt.data(), kHashPasses, std::size_t{kHashMemoryKiB} * 1024,
                             crypto_pwhash_argon2id_ALG_ARGON2ID13) != 0) {
    throw EOutOfMemory("Out of memory for the password hash");
  }
  return std::string(kHashPrefix) + "m=" + std::to_string(kHashMemoryKiB) +
         ",t=" + std::to_string(kHashPasses) + ",p=" + std::to_string(kHashLanes) + "$" +
         Base64(salt.data(), salt.size()) + "$" + Base64(hash.data(), hash.size());
}

bool SameBytes(std::string_view stored, std::string_view given) {
  if (stored.empty()) return false;
  unsigned difference = stored.size() == given.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const std::size_t at = i < stored.size() ? i : 0;
    difference |= static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(stored[at]);
  }
  // Read through a volatile so the loop is not cut short at the first difference.
  const volatile unsigned result = difference;
  return result == 0;
}

}  // namespace orvane
