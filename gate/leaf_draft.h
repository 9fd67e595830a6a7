// A posting's image and record, written whole under helper names in the leaf directory
// and only then linked under the base name the posting claims. A link creates a name
// only when it is free, so the claim is as exclusive as creating the files, and a
// leaf's files under their own names are complete from the moment they appear.
//
// The helpers belong to a posting slot: ".leaf<k>" in the leaf directory, held locked
// by one live posting, with the helpers ".leaf<k>i" (image) and ".leaf<k>r" (record).
// The slot file notes the name being linked. A posting that is killed leaves its slot
// file behind, unlocked; the next posting that takes the slot clears the helpers and
// removes a record whose image was never linked, so no half leaf stays.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvane {

// The leaf directory (with or without its trailing delimiter) and the two extensions
// that make the image and the record file of a base name.
struct LeafFileSet {
  std::string dir;
  std::string image_ext;
  std::string record_ext;
};

// How many postings of one directory can write at the same time.
inline constexpr int kLeafSlotCount = 1024;

class LeafDraft {
 public:
  // Takes a free slot and writes both helpers. Raises the file errors.
  LeafDraft(const LeafFileSet& files, std::string_view image, std::string_view record);
  LeafDraft(const LeafDraft&) = delete;
  LeafDraft& operator=(const LeafDraft&) = delete;
  // Unless finished: withdraws a published name and removes the helpers.
  ~LeafDraft();

  const LeafFileSet& Files() const { return files_; }
  // Links the record, then the image, under the name. False, with nothing left under
  // the name, when either of its files (or anything else of that name) exists.
  bool TryPublish(const std::string& name);
  bool IsPublished() const { return image_linked_; }
  const std::string& Name() const { return name_; }
  // The posting is stored: the helpers and the slot go, the published files stay.
  void Finish();

 private:
  void TakeSlot();
  bool ClearLeftovers(platform::File& slot, const std::string& slot_path);
  void WriteHelper(const std::string& path, std::string_view bytes);
  void NoteName(const std::string& name);
  void Release(bool withdraw) noexcept;

  LeafFileSet files_;
  std::string dir_;  // with its trailing delimiter
  platform::File slot_;
  std::string slot_path_, image_helper_, record_helper_;
  std::string name_;
  bool record_linked_ = false;
  bool image_linked_ = false;
};

}  // namespace orvane
