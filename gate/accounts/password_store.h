// How member records keep passwords: as written (pw=<password>) or as a salted Argon2id
// hash (pwhash=$argon2id$v=19$m=19456,t=2,p=1$<salt>$<hash>), chosen for the records the gate
// writes by config.txt's passwordstore. A record is checked by what it holds, whatever the
// setting: its first pwhash line when it has one, else its first pw line. The password
// hashed and compared is the field value as the form gave it (escaped Shift_JIS bytes).
// A record whose first locked line is locked=1 is locked by the operator: no password
// opens it, and its profile answers as for an id without a record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gate/text/field_edits.h"

namespace orvane {

inline constexpr std::string_view kPlainPasswordKey = "pw";
inline constexpr std::string_view kPasswordHashKey = "pwhash";
inline constexpr std::string_view kLockedKey = "locked";
inline constexpr std::string_view kLockedValue = "1";

enum class PasswordStore { Plain, Argon2id };
// "argon2id" selects hashes; "plain", no value and any other value keep the text.
PasswordStore PasswordStoreOf(std::string_view setting);
bool IsKnownPasswordStore(std::string_view setting);

// The parameters of the hashes written: 19 MiB, two passes, one lane.
inline constexpr std::uint32_t kHashMemoryKiB = 19456;
inline constexpr std::uint32_t kHashPasses = 2;
inline constexpr std::uint32_t kHashLanes = 1;

enum class StoredPasswordKind {
  None,        // neither line: no password opens the record
  Plain,       // a pw line
  Hashed,      // a pwhash line with at least the parameters written
  WeakerHash,  // a pwhash line with less memory or fewer passes
  Unreadable,  // a pwhash line that is no Argon2id hash: no password opens the record
};
struct StoredPassword {
  StoredPasswordKind kind = StoredPasswordKind::None;
  std::string_view value;  // a view into the record
  bool locked = false;     // the record is locked: nothing opens it
};
StoredPassword StoredPasswordInText(std::string_view record);
StoredPassword StoredPasswordInEdits(const TFieldEdits& record);

// Checks given passwords against stored ones. The last hash that a password opened is
// remembered with that password, so that a command checking the password again while it
// holds the record (which has not changed) computes no second hash.
class PasswordChecks {
 public:
  // Whether the given password opens what the record stores; an empty one never does,
  // nor does any for a locked record.
  bool Opens(const StoredPassword& stored, std::string_view given);
  bool Opens(std::string_view record, std::string_view given) {
    return Opens(StoredPasswordInText(record), given);
  }
  // Whether Opens would compute a hash, which takes a while, rather than answer at once.
  bool ComputesHash(const StoredPassword& stored, std::string_view given) const;
  void Forget();

 private:
  bool Remembers(const StoredPassword& stored, std::string_view given) const;

  std::string opened_hash_;
  std::string opened_by_;
};

// Whether a right password should store itself anew: a plain one or a weaker hash
// under argon2id.
bool NeedsRestoring(const StoredPassword& stored, PasswordStore store);
// A password in the form the store keeps it: the key and value of its line. Made before a
// record is locked, so that no writer of the directory waits for a hash.
struct PasswordToStore {
  std::string_view key;
  std::string value;
};
PasswordToStore PreparePassword(std::string_view password, PasswordStore store);
// Stores the password at the place of the record's password line (the pwhash line when
// there is one, else the pw line, else at the end); the other password line, if any, is
// removed.
void StorePassword(TFieldEdits& record, const PasswordToStore& password);
// The password line of a new record, without its line end.
std::string PasswordLine(std::string_view password, PasswordStore store);

// An Argon2id hash of the password, encoded, with a fresh salt from the system.
std::string HashPassword(std::string_view password);
// Whether the texts are equal, in a time that depends on the given text's length only.
bool SameBytes(std::string_view stored, std::string_view given);

}  // namespace orvane
