// A posting's image and record, written whole under helper names in the leaf directory
// and only then linked under the base name the posting claims. A link creates a name
// only when it is free, so the claim is as exclusive as creating the files, and a
// leaf's files under their own names are complete from the moment they appear.
//
// Every posting works in a slot of the leaf directory L: the slot file L/.leaf<k>, held
// exclusively locked by one live posting, and its helpers L/.leaf<k>r (record) and
// L/.leaf<k>i (image). Slot files are never removed: an empty slot file is an idle slot,
// a slot file holding "<name> NUL <image extension>" (the note) belongs to a posting that
// was linking that name. Locks die with their process, so a killed posting's slot is free
// again at once. Files whose names begin with a dot are never leaves.
//
// The steps of one posting, with what a SIGKILL between a step and the next one leaves.
// "Next taker" is the next posting, on any server, that takes the same slot: it reads the
// note (ClearLeftovers) before it writes anything.
//
// | step                                   | on disk after it                          | a kill here leaves             | cleared by, when                      |
// |----------------------------------------|-------------------------------------------|--------------------------------|---------------------------------------|
// | 1 take slot k (open or create, locked) | .leaf<k>, note empty or an old note       | the slot file                  | nothing to clear; it stays as idle    |
// | 2 write .leaf<k>r, then .leaf<k>i      | the helpers, each possibly cut short      | helpers under dot names        | next taker removes them               |
// | 3 hold the counter (numbered names)    | counter locked, unchanged                 | the counter as it was          | the lock dies with the process        |
// | 4 note the name in the slot file       | .leaf<k> = name NUL ext                   | helpers, the note              | next taker: helpers removed           |
// | 5 link .leaf<k>r to name.txt           | name.txt (complete), no image yet         | a record without its image     | next taker removes name.txt, helpers  |
// | 6 link .leaf<k>i to name.ext           | the whole leaf under its name             | a whole leaf never answered    | it stays, complete; next taker        |
// |                                        |                                           | "accepted"                     | removes the helpers                   |
// | 7 rewrite the counter in place         | the counter names the number taken        | the new number, maybe followed | nobody: spaces read as the number     |
// |   (digits padded with spaces, then cut)|                                           | by spaces                      |                                       |
// | 8 remove .leaf<k>r, then .leaf<k>i     | the leaf; helpers going                   | the note, maybe .leaf<k>i      | next taker removes what is left       |
// | 9 empty the note, unlock; then answer  | .leaf<k> empty (idle)                     | the leaf, maybe never answered | -                                     |
// |                                        |                                           | "accepted"                     |                                       |
//
// A leaf removed by the operator (--remove-leaf) leaves the mark L/.removed.<name>, an
// empty file made before its files go and never removed, and no posting publishes under
// a marked name: it is looked for before the links and again after them, so a posting
// whose links found the name free only because the removal had just taken the files
// withdraws them. The removal's steps:
//
// | step                                   | on disk after it                          | a kill here leaves             | cleared by, when                      |
// |----------------------------------------|-------------------------------------------|--------------------------------|---------------------------------------|
// | 1 create .removed.<name> (kept if any) | the mark beside the whole leaf            | a marked leaf, still served    | the operator runs the removal again   |
// | 2 remove the image, then the record    | the mark only                             | a record without its image     | the operator runs the removal again   |
//
// A name that a killed posting left taken (steps 5 and 6) is skipped by the next posting,
// which finds its files; with a counter, the number is then passed over. A posting that
// fails without being killed withdraws its own published files (image first, then record)
// and helpers before it empties the note. Across several servers over one volume the
// slot file's lock and the exclusive link decide, the same on every client; a slot file
// is looked at again after its open because a lagging name cache can lead to a file that
// is no longer at its name (see OpenSlot).
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

// The mark of a removed leaf's base name in the leaf directory (with its delimiter).
std::string RemovedLeafMark(std::string_view dir, std::string_view name);

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
  // the name, when either of its files (or anything else of that name) exists or the
  // name is marked removed.
  bool TryPublish(const std::string& name);
  bool IsPublished() const { return image_linked_; }
  const std::string& Name() const { return name_; }
  // The posting is stored: the helpers and the slot go, the published files stay.
  void Finish();

 private:
  void TakeSlot();
  bool ClearLeftovers(platform::File& slot, const std::string& slot_path);
  void WriteHelper(const std::string& path, std::string_view bytes);
  static platform::File CreateHelper(const std::string& path);
  void NoteName(const std::string& name);
  void Release(bool withdraw) noexcept;

  LeafFileSet files_;
  std::string dir_;  // with its trailing delimiter
  platform::File slot_;
  std::string slot_path_, image_helper_, record_helper_;
  std::string name_;
  // What the slot file may hold: 0 only while it is known to be empty.
  std::size_t note_size_ = 0;
  bool record_linked_ = false;
  bool image_linked_ = false;
};

}  // namespace orvane
