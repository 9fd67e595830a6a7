// The profile a member saves with the change-profile form: the values of its fields, and
// the fields with their record keys in the order keys missing from a record are appended.
#pragma once

#include <array>
#include <string_view>
#include <utility>

namespace orvane {

struct MemberProfile {
  std::string_view realname, mail, comment, country;
  std::string_view url1, url2, url3;
  std::string_view urlname1, urlname2, urlname3;
};

using ProfileItem = std::pair<std::string_view, std::string_view>;

inline std::array<ProfileItem, 10> ProfileItems(const MemberProfile& profile) {
  return {{
      {"realname", profile.realname},
      {"mail", profile.mail},
      {"comment", profile.comment},
      {"country", profile.country},
      {"url1", profile.url1},
      {"url2", profile.url2},
      {"url3", profile.url3},
      {"urlname1", profile.urlname1},
      {"urlname2", profile.urlname2},
      {"urlname3", profile.urlname3},
  }};
}

}  // namespace orvane
