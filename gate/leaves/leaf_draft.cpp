#include "gate/leaves/leaf_draft.h"

#include <optional>

#include "gate/disk_names.h"
#include "gate/text/path_text.h"
#include "platform/exception.h"

namespace orvane {
namespace {

using platform::File;
using platform::OpenMode;

// The slot file holds the base name being linked and the image extension, NUL between.
constexpr char kNoteSeparator = '\0';

[[noreturn]] void ThrowNotRemoved(const std::string& path) {
  throw EInOutError("I/O error: \"" + platform::FullPath(path) + "\" cannot be removed", 0, false);
}

// True when nothing is left at the path.
bool RemoveIfPresent(const std::string& path) {
  return !platform::FileExists(path) || platform::RemoveFile(path).Done() ||
         !platform::FileExists(path);
}

// The same for a file that is almost always there: removed without asking first.
bool RemoveExpected(const std::string& path) {
  return platform::RemoveFile(path).Done() || !platform::FileExists(path);
}

// True when both paths name one file (a helper and the name it was linked under).
bool SameFile(const std::string& path, const std::string& other) {
  if (!platform::FileExists(path) || !platform::FileExists(other)) return false;
  File file = File::Open(path, OpenMode::ReadShared);
  const bool same = file.IsSameFileAs(other);
  file.Close();
  return same;
}

// Gives the file a second name; false when a file takes that name. Only a file takes a
// name: a directory there means the name cannot be made, and that error is raised.
bool Linked(const std::string& existing, const std::string& name) {
  const int error = platform::CreateHardLink(existing, name).error;
  if (error == 0) return true;
  if (error == platform::FileExistsErrorCode() && !platform::DirectoryExists(name)) return false;
  platform::ThrowFileCreateError(name, error);
}

// Opens the slot file when no live posting holds it; no file when one does. *existed
// tells whether the file was there before, left by a posting that ended without
// clearing it. Slot files stay, so the open tries an existing one first and creates
// it only when it found none.
std::optional<File> OpenSlot(const std::string& path, bool* existed) {
  bool exists = true;
  for (int attempt = 0; attempt < 4; ++attempt) {
    try {
      File slot =
          File::Open(path, exists ? OpenMode::ReadWriteExclusive : OpenMode::CreateNewExclusive);
      // Postings keep their slot files, but a network file system may lead a lagging
      // name to a file that is no longer at the path: the path is looked at again.
      if (slot.IsSameFileAs(path)) {
        *existed = exists;
        return slot;
      }
      exists = true;
    } catch (const EOSFileError& error) {
      if (error.IsSharingViolation()) return std::nullopt;
      if (!exists) {
        if (error.ErrorCode() != platform::FileExistsErrorCode()) throw;
        exists = true;  // made meanwhile by another posting: opened
        continue;
      }
      // Not there: made. A network file system may also lead the name to a slot file
      // another posting removed; the name is looked up afresh.
      const bool there = platform::FileExists(path);
      if (there && !platform::IsStaleFileError(error.ErrorCode())) throw;
      exists = there;
    }
  }
  return std::nullopt;
}

}  // namespace

LeafDraft::LeafDraft(const LeafFileSet& files, std::string_view image, std::string_view record)
    : files_(files), dir_(IncludeTrailingDelimiter(files.dir)) {
  TakeSlot();
  try {
    WriteHelper(record_helper_, record);
    WriteHelper(image_helper_, image);
  } catch (...) {
    Release(true);
    throw;
  }
}

LeafDraft::~LeafDraft() { Release(true); }

void LeafDraft::TakeSlot() {
  for (int k = 0; k < kLeafSlotCount; ++k) {
    const std::string path = dir_ + std::string(disk_names::kLeafSlotPrefix) + std::to_string(k);
    bool existed = false;
    note_size_ = 0;  // a slot file this open made is empty
    std::optional<File> slot = OpenSlot(path, &existed);
    // A slot whose leftovers cannot be cleared now is left for a later posting.
    if (!slot || (existed && !ClearLeftovers(*slot, path))) continue;
    slot_ = std::move(*slot);
    slot_path_ = path;
    // Names a removal of this slot file left aside (Windows, where postings once
    // removed their slot files) are cleared; elsewhere this does nothing.
    platform::ClearHeldFileRemovals(path);
    image_helper_ = path + "i";
    record_helper_ = path + "r";
    return;
  }
  throw EInOutError("I/O error: no free posting slot in \"" + platform::FullPath(dir_) + "\"", 0,
                    false);
}

// What a posting that ended early left in the slot: its helpers, and possibly a record
// linked under its name without the image. Such a record goes (that posting was never
// answered as accepted); a name with both files linked stays, complete.
bool LeafDraft::ClearLeftovers(File& slot, const std::string& slot_path) {
  const std::string record_helper = slot_path + "r";
  const std::string image_helper = slot_path + "i";
  try {
    const std::string note = slot.ReadAll();
    note_size_ = note.size();
    const std::size_t separator = note.find(kNoteSeparator);
    if (separator != std::string::npos && separator > 0) {
      const std::string base = dir_ + note.substr(0, separator);
      const std::string record = base + files_.record_ext;
      const std::string image = base + note.substr(separator + 1);
      if (SameFile(record_helper, record) && !SameFile(image_helper, image) &&
          !RemoveIfPresent(record)) {
        return false;
      }
    }
    return RemoveIfPresent(record_helper) && RemoveIfPresent(image_helper);
  } catch (const Exception&) {
    return false;
  }
}

void LeafDraft::WriteHelper(const std::string& path, std::string_view bytes) {
  File file = CreateHelper(path);
  file.WriteAll(bytes);
  file.Close();
}

// Taking the slot cleared its helpers, so the name is free but for a helper that a
// clearing could not see; the exclusive create finds that one, and only then is it removed.
// The slot's lock keeps the helpers to this posting, so they take no lock of their own.
File LeafDraft::CreateHelper(const std::string& path) {
  try {
    return File::Open(path, OpenMode::CreateNewUnlocked);
  } catch (const EOSFileError& error) {
    if (error.ErrorCode() != platform::FileExistsErrorCode()) throw;
  }
  if (!RemoveIfPresent(path)) ThrowNotRemoved(path);
  return File::Open(path, OpenMode::CreateNewUnlocked);
}

// An empty note is written as it stands: the slot file's position is still at its start.
void LeafDraft::NoteName(const std::string& name) {
  const std::string note = name + kNoteSeparator + files_.image_ext;
  if (note_size_ > 0) slot_.Truncate();
  note_size_ = note.size();
  slot_.WriteAll(note);
}

bool LeafDraft::TryPublish(const std::string& name) {
  const std::string base = dir_ + name;
  const std::string record = base + files_.record_ext;
  const std::string image = base + files_.image_ext;
  const std::string mark = RemovedLeafMark(dir_, name);
  // A taken name is mostly told by its image; a record without one is told by its link.
  if (platform::FileExists(image) || platform::FileExists(mark)) return false;
  // Noted first, so that a posting killed after the record's link is cleared up.
  NoteName(name);
  if (!Linked(record_helper_, record)) return false;
  record_linked_ = true;
  name_ = name;
  // A failure from here on withdraws the record with the draft.
  if (Linked(image_helper_, image)) {
    image_linked_ = true;
    // A removal marks the name before it takes the files, so links that found the name
    // free during a removal see its mark now.
    if (!platform::FileExists(mark)) return true;
    if (platform::RemoveFile(image).Failed()) ThrowNotRemoved(image);
    image_linked_ = false;
  }
  if (platform::RemoveFile(record).Failed()) ThrowNotRemoved(record);
  record_linked_ = false;
  return false;
}

std::string RemovedLeafMark(std::string_view dir, std::string_view name) {
  return std::string(dir).append(disk_names::kRemovedMarkPrefix).append(name);
}

void LeafDraft::Finish() { Release(false); }

// The slot's note is emptied last and only when everything before it went: while it
// stays, the next posting that takes the slot finishes the clearing. The record helper
// goes before the image helper, so a record helper still linked under a name always has
// its image helper beside it when that image was linked. The slot file itself stays: a
// name that always leads to one file keeps its lock exclusive even where another
// machine's cache of names lags behind, as on a network file system; a removed slot
// file met through such a cache let two postings share one slot.
void LeafDraft::Release(bool withdraw) noexcept {
  if (!slot_.IsOpen()) return;
  const std::string base = dir_ + name_;
  bool cleared = true;
  if (withdraw && image_linked_) cleared = platform::RemoveFile(base + files_.image_ext).Done();
  if (withdraw && cleared && record_linked_) {
    cleared = platform::RemoveFile(base + files_.record_ext).Done();
  }
  cleared = cleared && RemoveExpected(record_helper_) && RemoveExpected(image_helper_);
  if (cleared && note_size_ > 0) {
    try {
      slot_.Truncate();
    } catch (const Exception&) {
      // The note stays; the next posting that takes the slot clears after it.
    }
  }
  slot_ = File();
}

}  // namespace orvane
